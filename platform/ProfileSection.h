#pragma once
// For an operation that reads or writes many keys of a profile (ini) file: one section read at
// once, and writes collected for one replace of the file that other batches may join. Nothing
// is kept beyond the object, which lives for one operation (nothing cached between operations).
// Keys are matched without case; of keys written twice the first counts, as in a single read.
#include <map>
#include <string>
#include <vector>

#include "Profile.h"

namespace ql::profile {

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

// TIniBatch that another batch of the same file can join (Append), so that several savers
// make one replace of the file.
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
  // WriteStrings of the collected writes (dropped whatever the outcome): false when one was
  // refused and nothing was written; throws EInOutError when the file cannot be replaced.
  bool Commit();
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
