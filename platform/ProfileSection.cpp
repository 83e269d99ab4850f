#include "ProfileSection.h"

#include <algorithm>

#include "Exception.h"

namespace ql::profile {

namespace {
std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}
}  // namespace

// The profile layer itself finds a section by its header alone and edits only that section's
// lines, so these are its own reads and writes.
std::vector<std::pair<std::string, std::string>> ReadSectionValues(const std::string& file,
                                                                   const std::string& section) {
  return SectionValues(file, section);
}

void WriteStringsOnePass(const std::string& file, const std::vector<Write>& writes) {
  if (!WriteStrings(file, writes))
    throw Exception(
        "Cannot write " + file +
        ": a section, key or value holds a line break or would start a line of its own");
}

void TIniWriteBatch::Commit() {
  std::vector<Write> writes;
  writes.swap(writes_);
  WriteStringsOnePass(FileName, writes);
}

TIniSection::TIniSection(const std::string& file, const std::string& section) {
  // Of keys written twice the first counts, as in a single key read.
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

}  // namespace ql::profile
