#pragma once
// One section of a profile (ini) file read at once, for an operation that reads many keys of
// it: one parse of the file instead of one per key. The object holds what the file said when
// it was made and is meant to live for one operation only (nothing is cached between
// operations). Keys are matched without case; of keys written twice the first counts, as in a
// single key read.
#include <map>
#include <string>
#include <vector>

#include "Profile.h"

namespace ql::profile {

// SectionValues without splitting the whole file into lines first: the same pairs, in file
// order, for a fraction of the work on a large file.
std::vector<std::pair<std::string, std::string>> ReadSectionValues(const std::string& file,
                                                                   const std::string& section);

class TIniSection {
 public:
  TIniSection(const std::string& file, const std::string& section);

  std::string ReadString(const std::string& key, const std::string& def) const;
  // As TIniFile: an empty or missing value gives def; other text is read by ParseInt.
  int ReadInteger(const std::string& key, int def) const;
  bool ReadBool(const std::string& key, bool def) const;
  bool ValueExists(const std::string& key) const;

 private:
  std::map<std::string, std::string> values_;  // by lower-case key
};

// WriteStrings in one pass over the file: the same file as WriteStrings gives (each write set
// where it is found, or added at the end of its section, or in a new section at the end), but
// the file is split and classified once instead of once per write, which makes a save of a
// hundred keys into a file of ten thousand sections fast. Writes that delete a key are handed
// to WriteStrings as they are. What WriteStrings refuses is refused (false, nothing written).
// Throws EInOutError when the file cannot be replaced (it then stays as it was) or exists and
// cannot be read.
bool WriteStringsOnePass(const std::string& file, const std::vector<Write>& writes);

// TIniBatch on WriteStringsOnePass.
class TIniWriteBatch {
 public:
  explicit TIniWriteBatch(std::string file_name) : FileName(std::move(file_name)) {}
  void WriteString(const std::string& section, const std::string& key, const std::string& value) {
    writes_.push_back({section, key, value});
  }
  void WriteInteger(const std::string& section, const std::string& key, int value) {
    WriteString(section, key, std::to_string(value));
  }
  void WriteBool(const std::string& section, const std::string& key, bool value) {
    WriteString(section, key, value ? "1" : "0");
  }
  // The collected writes are dropped whatever the outcome.
  void Commit();
  // Takes the writes of another batch after its own (the other is left empty).
  void Append(TIniWriteBatch& other) {
    writes_.insert(writes_.end(), other.writes_.begin(), other.writes_.end());
    other.writes_.clear();
  }
  std::size_t Pending() const { return writes_.size(); }

  std::string FileName;

 private:
  std::vector<Write> writes_;
};

}  // namespace ql::profile
