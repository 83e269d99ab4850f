#include "ProfileSection.h"

#include <sys/stat.h>

#include <algorithm>
#include <deque>
#include <string_view>

#include "Exception.h"
#include "Profile.h"
#include "TextFile.h"

namespace ql::profile {

namespace {
std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}
// The line rules of the profile files (as Profile.cpp reads them).
std::string_view Trim(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
  return s.substr(b, e - b);
}

struct Line {
  enum Kind { kOther, kSection, kKey } kind = kOther;
  std::string_view name;
};

Line Classify(std::string_view raw) {
  std::string_view s = Trim(raw);
  Line line;
  if (s.empty() || s[0] == ';') return line;
  if (s[0] == '[') {
    size_t close = s.find(']');
    if (close == std::string_view::npos) return line;
    line.kind = Line::kSection;
    line.name = Trim(s.substr(1, close - 1));
    return line;
  }
  size_t eq = s.find('=');
  if (eq == std::string_view::npos) return line;
  line.kind = Line::kKey;
  line.name = Trim(s.substr(0, eq));
  return line;
}

// The writes of one section, each key with its last value, in the order of first appearance.
struct SectionEdits {
  std::string section;  // as first written
  std::vector<std::string> keys, values;
  std::map<std::string, std::size_t> index;  // lower-case key -> position
  std::vector<bool> done;
  bool found = false;
  std::size_t insertAt = 0;  // in the output, after the last non-blank line of the section
};

}  // namespace

std::vector<std::pair<std::string, std::string>> ReadSectionValues(const std::string& file,
                                                                   const std::string& section) {
  std::vector<std::pair<std::string, std::string>> values;
  std::string text;
  try {
    text = ReadFileBytes(ResolvePath(file));
  } catch (const EInOutError&) {
    return values;  // a missing or unreadable file reads as empty
  }
  std::string want = Lower(section);
  std::string_view all(text);
  bool in = false;
  for (std::size_t pos = 0; pos < all.size();) {
    std::size_t end = all.find('\n', pos);
    std::size_t next = end == std::string_view::npos ? all.size() : end + 1;
    std::string_view raw =
        all.substr(pos, (end == std::string_view::npos ? all.size() : end) - pos);
    if (end != std::string_view::npos && !raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
    pos = next;
    std::string_view s = Trim(raw);
    if (s.empty() || s[0] == ';') continue;
    if (s[0] == '[') {
      std::size_t close = s.find(']');
      if (close == std::string_view::npos) continue;
      std::string_view name = Trim(s.substr(1, close - 1));
      in = name.size() == want.size() && Lower(std::string(name)) == want;
      continue;
    }
    if (!in) continue;
    std::size_t eq = s.find('=');
    if (eq == std::string_view::npos) continue;
    std::string_view key = Trim(s.substr(0, eq)), value = Trim(s.substr(eq + 1));
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
      value = value.substr(1, value.size() - 2);
    values.emplace_back(std::string(key), std::string(value));
  }
  return values;
}

bool WriteStringsOnePass(const std::string& file, const std::vector<Write>& writes) {
  if (writes.empty()) return true;
  for (const Write& w : writes) {
    if (!w.value) return WriteStrings(file, writes);
    // What WriteStrings refuses (a line break, a key or section that would plant another) is
    // refused here too: nothing is written.
    if (!ValidSection(w.section) || !ValidKey(w.key) || !ValidValue(*w.value)) return false;
  }
  std::vector<SectionEdits> edits;
  std::map<std::string, std::size_t> bySection;  // lower-case section -> edits
  for (const Write& w : writes) {
    auto [it, fresh] = bySection.emplace(Lower(w.section), edits.size());
    if (fresh) edits.push_back({w.section, {}, {}, {}, {}, false, 0});
    SectionEdits& e = edits[it->second];
    auto [k, added] = e.index.emplace(Lower(w.key), e.keys.size());
    if (added) {
      e.keys.push_back(w.key);
      e.values.push_back(*w.value);
      e.done.push_back(false);
    } else {
      e.values[k->second] = *w.value;
    }
  }
  std::string path = ResolvePath(file);
  std::string text;
  try {
    text = ReadFileBytes(path);
  } catch (const EInOutError& err) {
    if (err.ErrorCode != 2) throw;  // a file that cannot be read is never written over
  }
  // The lines are views into the text; replaced and added lines live in `owned`.
  std::deque<std::string> owned;
  std::vector<std::string_view> out;
  out.reserve(text.size() / 16 + writes.size() + 3);
  std::string_view all(text);
  SectionEdits* in = nullptr;
  for (std::size_t pos = 0; pos < all.size();) {
    std::size_t end = all.find('\n', pos);
    std::size_t stop = end == std::string_view::npos ? all.size() : end;
    std::string_view raw = all.substr(pos, stop - pos);
    if (end != std::string_view::npos && !raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
    pos = end == std::string_view::npos ? all.size() : end + 1;
    Line line = Classify(raw);
    if (line.kind == Line::kSection) {
      auto it = bySection.find(Lower(std::string(line.name)));
      in = it == bySection.end() ? nullptr : &edits[it->second];
      if (in) {
        in->found = true;
        in->insertAt = out.size() + 1;
      }
    } else if (in) {
      if (line.kind == Line::kKey) {
        auto k = in->index.find(Lower(std::string(line.name)));
        if (k != in->index.end() && !in->done[k->second]) {
          in->done[k->second] = true;
          out.push_back(owned.emplace_back(std::string(line.name) + "=" + in->values[k->second]));
          in->insertAt = out.size();
          continue;
        }
      }
      if (!Trim(raw).empty()) in->insertAt = out.size() + 1;
    }
    out.push_back(raw);
  }
  // Keys not found go at the end of their section, later sections first so that the
  // positions of earlier ones stay right.
  std::vector<SectionEdits*> found;
  for (SectionEdits& e : edits)
    if (e.found) found.push_back(&e);
  std::sort(found.begin(), found.end(),
            [](const SectionEdits* a, const SectionEdits* b) { return a->insertAt > b->insertAt; });
  for (SectionEdits* e : found) {
    std::vector<std::string_view> added;
    for (std::size_t i = 0; i < e->keys.size(); ++i)
      if (!e->done[i]) added.push_back(owned.emplace_back(e->keys[i] + "=" + e->values[i]));
    out.insert(out.begin() + static_cast<long>(e->insertAt), added.begin(), added.end());
  }
  for (SectionEdits& e : edits) {
    if (e.found) continue;
    if (!out.empty() && !Trim(out.back()).empty()) out.emplace_back();
    out.push_back(owned.emplace_back("[" + e.section + "]"));
    for (std::size_t i = 0; i < e.keys.size(); ++i)
      out.push_back(owned.emplace_back(e.keys[i] + "=" + e.values[i]));
  }
  std::string bytes;
  bytes.reserve(text.size() + 64 * writes.size() + 64);
  for (std::string_view l : out) {
    bytes += l;
    bytes += "\r\n";
  }
  // The Windows directory is made when it is missing, as the single writes do.
  if (path.find('/') != std::string::npos) {
    std::string dir = path.substr(0, path.rfind('/'));
    struct stat st;
    if (!dir.empty() && stat(dir.c_str(), &st) != 0 && dir == WindowsDirectory()) {
      for (std::size_t pos = 1; (pos = dir.find('/', pos)) != std::string::npos; ++pos)
        mkdir(dir.substr(0, pos).c_str(), 0777);
      mkdir(dir.c_str(), 0777);
    }
  }
  WriteFileAtomic(path, bytes);
  return true;
}

void TIniWriteBatch::Commit() {
  std::vector<Write> writes;
  writes.swap(writes_);
  WriteStringsOnePass(FileName, writes);
}

TIniSection::TIniSection(const std::string& file, const std::string& section) {
  for (auto& [key, value] : ReadSectionValues(file, section)) values_.emplace(Lower(key), value);
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
