#include "ProfileSection.h"

namespace ql::profile {

namespace {
std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}
}  // namespace

TIniSection::TIniSection(const std::string& file, const std::string& section) {
  for (auto& [key, value] : SectionValues(file, section)) values_.emplace(Lower(key), value);
}

std::string TIniSection::ReadString(const std::string& key, const std::string& def) const {
  auto it = values_.find(Lower(key));
  return it == values_.end() ? def : it->second;
}

int TIniSection::ReadInteger(const std::string& key, int def) const {
  std::string s = ReadString(key, "");
  return s.empty() ? def : ParseInt(s, def);
}

bool TIniSection::ReadBool(const std::string& key, bool def) const {
  return ReadInteger(key, def ? 1 : 0) != 0;
}

bool TIniSection::ValueExists(const std::string& key) const {
  return values_.count(Lower(key)) != 0;
}

bool TIniWriteBatch::Commit() {
  std::vector<Write> writes;
  writes.swap(writes_);
  return WriteStrings(FileName, writes);
}

}  // namespace ql::profile
