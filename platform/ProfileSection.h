#pragma once
// One section of a profile (ini) file read at once, for an operation that reads many keys of
// it: one parse of the file instead of one per key. The object holds what the file said when
// it was made and is meant to live for one operation only (nothing is cached between
// operations). Keys are matched without case; of keys written twice the first counts, as in a
// single key read.
#include <map>
#include <string>

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

}  // namespace ql::profile
