#include "DiscStore.h"

#include <map>

#include "SafeName.h"

namespace ripper {

namespace {

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

// A section's values by key without case, the first of a key winning as in a key read.
std::map<std::string, std::string> ReadSection(const std::string& file,
                                               const std::string& section) {
  std::map<std::string, std::string> values;
  for (auto& [key, value] : ql::profile::SectionValues(file, section))
    values.emplace(Lower(key), std::move(value));
  return values;
}

std::string Get(const std::map<std::string, std::string>& values, const std::string& key) {
  auto it = values.find(Lower(key));
  return it == values.end() ? std::string() : it->second;
}

}  // namespace

std::string TrackNameKey(int index) {
  return std::to_string(index);
}
std::string SavedAsKey(int index) {
  return "f" + std::to_string(index);
}

TDiscNames LoadDiscNames(const std::string& disc_file, const std::string& settings_file,
                         const std::string& section, int tracks) {
  TDiscNames d;
  auto discs = ReadSection(disc_file, section);
  auto settings = ReadSection(settings_file, section);
  d.artist = SafeValue(Get(discs, "artist"));
  d.title = SafeValue(Get(discs, "title"));
  for (int i = 0; i < tracks; ++i) {
    d.names.push_back(SafeValue(Get(discs, TrackNameKey(i))));
    std::string saved = Get(settings, SavedAsKey(i));
    d.savedAs.push_back(IsSafeName(saved) ? saved : std::string());
  }
  return d;
}

std::vector<TDiscWrite> DiscWrites(const TDiscNames& names) {
  std::vector<TDiscWrite> w;
  int tracks = static_cast<int>(names.names.size());
  w.push_back({0, "artist", SafeValue(names.artist)});
  w.push_back({0, "title", SafeValue(names.title)});
  w.push_back({0, "numtracks", std::to_string(tracks)});
  w.push_back({0, "numplay", std::to_string(tracks)});
  w.push_back({0, "EntryType", "1"});
  std::string order;
  for (int i = 0; i < tracks; ++i) {
    w.push_back({0, TrackNameKey(i), SafeValue(names.names[i])});
    std::string saved = i < static_cast<int>(names.savedAs.size()) ? names.savedAs[i] : "";
    w.push_back({1, SavedAsKey(i), saved.empty() ? "" : SafeName(saved, i + 1)});
    order += std::to_string(i) + " ";
  }
  w.push_back({0, "order", order});
  return w;
}

void StoreSavedAs(const std::string& settings_file, const std::string& section, int index,
                  const std::string& file_name) {
  TIniFile ini(settings_file);
  ini.WriteString(section, SavedAsKey(index),
                  file_name.empty() ? "" : SafeName(file_name, index + 1));
}

std::optional<std::string> StoredFileInside(const std::string& dir, const std::string& name) {
  if (!IsSafeName(name)) return std::nullopt;
  return (dir.empty() || dir.back() == '/' ? dir : dir + "/") + name;
}

}  // namespace ripper
