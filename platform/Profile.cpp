#include "Profile.h"

#include <sys/stat.h>

#include <strings.h>
#include <cerrno>
#include <cstdlib>

#include "Exception.h"
#include "TextFile.h"

namespace ql::profile {

namespace {

bool SameText(std::string_view a, std::string_view b) {
  return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

std::string_view Trim(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
  return s.substr(b, e - b);
}

// One line of the file, classified.
struct Line {
  enum Kind { kOther, kSection, kKey } kind = kOther;
  std::string_view name;   // section name or key
  std::string_view value;  // value of a key line
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
  line.value = Trim(s.substr(eq + 1));
  // A value in matching double quotes is read without them.
  if (line.value.size() >= 2 && line.value.front() == '"' && line.value.back() == '"')
    line.value = line.value.substr(1, line.value.size() - 2);
  return line;
}

// The file's text, or empty when it does not exist or cannot be read.
std::string Load(const std::string& path) {
  try {
    return ReadFileBytes(path);
  } catch (const EInOutError&) {
    return {};
  }
}

// As Load, but a file that exists and cannot be read is an error: writing over it would lose it.
std::string LoadForWrite(const std::string& path) {
  try {
    return ReadFileBytes(path);
  } catch (const EInOutError& e) {
    if (e.ErrorCode == 2) return {};
    throw;
  }
}

// The line of text that starts at pos (CR LF or LF ends, as SplitLines splits), and where the
// next one starts.
std::string_view LineAt(std::string_view text, size_t pos, size_t& next) {
  size_t end = text.find('\n', pos);
  if (end == std::string_view::npos) {
    next = text.size();
    return text.substr(pos);
  }
  next = end + 1;
  size_t stop = end;
  if (stop > pos && text[stop - 1] == '\r') --stop;
  return text.substr(pos, stop - pos);
}

// Calls f with every line of text, without copying.
template <typename F>
void ForEachLine(std::string_view text, F&& f) {
  size_t pos = 0;
  while (pos < text.size()) f(LineAt(text, pos, pos));
}

// Calls f with the offset and the text of every line.
template <typename F>
void ForEachLineStart(std::string_view text, F&& f) {
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t start = pos;
    f(start, LineAt(text, start, pos));
  }
}

// Whether a line can be a section header (its first non-blank character is '[').
bool MaybeSection(std::string_view raw) {
  size_t i = 0;
  while (i < raw.size() && (raw[i] == ' ' || raw[i] == '\t')) ++i;
  return i < raw.size() && raw[i] == '[';
}

// Calls f with every key line of the section (of each place it occurs, in file order). Section
// headers are found by looking for '[' only, so a read of a large disc store touches most of
// the file once, at memory speed, instead of splitting it into lines.
template <typename F>
void ForEachKey(std::string_view text, const std::string& section, F&& f) {
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t bracket = text.find('[', pos);
    if (bracket == std::string_view::npos) return;
    size_t start = text.rfind('\n', bracket);
    start = start == std::string_view::npos ? 0 : start + 1;
    if (start < pos || !Trim(text.substr(start, bracket - start)).empty()) {
      pos = bracket + 1;  // a '[' inside a line, or on a line already looked at
      continue;
    }
    Line header = Classify(LineAt(text, start, pos));
    if (header.kind != Line::kSection || !SameText(header.name, section)) continue;
    while (pos < text.size()) {
      size_t next;
      std::string_view raw = LineAt(text, pos, next);
      Line line = Classify(raw);
      if (line.kind == Line::kSection) break;  // looked at again by the outer loop
      if (line.kind == Line::kKey) f(line);
      pos = next;
    }
  }
}

void EnsureDirectory(const std::string& dir) {
  if (dir.empty()) return;
  size_t pos = 0;
  while ((pos = dir.find('/', pos + 1)) != std::string::npos)
    mkdir(dir.substr(0, pos).c_str(), 0777);
  mkdir(dir.c_str(), 0777);
}

// Applies one edit to the file's lines: key set to value in section (nullopt: key removed;
// erase_section: the whole section removed). False when nothing changed.
bool ApplyEdit(std::vector<std::string>& lines, const std::string& section, const std::string* key,
               const std::optional<std::string>& value, bool erase_section) {
  std::vector<std::string> out;
  out.reserve(lines.size() + 3);
  bool in = false, found_section = false, done = false;
  size_t insert_at = 0;  // after the last non-blank line of the section
  for (std::string& raw : lines) {
    Line line = Classify(raw);
    if (line.kind == Line::kSection) {
      in = SameText(line.name, section);
      if (in) {
        found_section = true;
        if (erase_section) continue;
        insert_at = out.size() + 1;
      }
    } else if (in) {
      if (erase_section) continue;
      if (!done && line.kind == Line::kKey && key && SameText(line.name, *key)) {
        done = true;
        if (value) out.push_back(std::string(line.name) + "=" + *value);
        insert_at = out.size();
        continue;
      }
      if (!Trim(raw).empty()) insert_at = out.size() + 1;
    }
    out.push_back(std::move(raw));
  }
  bool changed = true;
  if (erase_section && !found_section) changed = false;
  if (!erase_section && !done) {
    if (!value) {
      changed = false;  // deleting a key that is not there changes nothing
    } else {
      std::string entry = *key + "=" + *value;
      if (found_section) {
        out.insert(out.begin() + static_cast<long>(insert_at), entry);
      } else {
        if (!out.empty() && !Trim(out.back()).empty()) out.emplace_back();
        out.push_back("[" + section + "]");
        out.push_back(entry);
      }
    }
  }
  lines = std::move(out);
  return changed;
}

// Every line ended by CR LF, as the system writes its text files (a file read with LF ends is
// written back with CR LF, all of it).
std::string NormalizeLineEnds(std::string text) {
  bool bare = false;
  for (size_t p = text.find('\n'); p != std::string::npos; p = text.find('\n', p + 1))
    if (p == 0 || text[p - 1] != '\r') {
      bare = true;
      break;
    }
  if (bare) {
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    for (size_t k = 0; k < text.size(); ++k) {
      if (text[k] == '\n' && (k == 0 || text[k - 1] != '\r')) out += '\r';
      out += text[k];
    }
    text = std::move(out);
  }
  if (!text.empty() && text.back() != '\n') text += "\r\n";
  return text;
}

void StoreText(const std::string& path, const std::string& text) {
  const std::string bytes = NormalizeLineEnds(text);
  if (path.find('/') != std::string::npos) {
    struct stat st;
    std::string dir = path.substr(0, path.rfind('/'));
    if (!dir.empty() && stat(dir.c_str(), &st) != 0 && dir == WindowsDirectory())
      EnsureDirectory(dir);
  }
  WriteFileAtomic(path, bytes);
}

std::string JoinLines(const std::vector<std::string>& lines) {
  std::string bytes;
  for (const std::string& l : lines) {
    bytes += l;
    bytes += "\r\n";
  }
  return bytes;
}

// Applies writes[i, j), all to one section, to the file's text as ApplyEdit would one after
// the other. When the section occurs once, only its own lines are split, edited and joined
// again (the rest of the file is kept byte for byte), so a save into a large disc store costs
// a copy of the file, not a walk over every line of it for every key.
bool EditText(std::string& text, const std::vector<Write>& writes, size_t i, size_t j) {
  const std::string& section = writes[i].section;
  size_t count = 0, begin = 0, end = text.size();
  bool inside = false;
  ForEachLineStart(text, [&](size_t start, std::string_view raw) {
    if (!MaybeSection(raw)) return;
    Line line = Classify(raw);
    if (line.kind != Line::kSection) return;
    if (inside) {
      end = start;
      inside = false;
    }
    if (SameText(line.name, section)) {
      ++count;
      begin = start;
      end = text.size();
      inside = true;
    }
  });
  bool changed = false;
  if (count == 1) {
    std::vector<std::string> part = SplitLines(std::string_view(text).substr(begin, end - begin));
    for (size_t k = i; k < j; ++k)
      changed |= ApplyEdit(part, writes[k].section, &writes[k].key, writes[k].value, false);
    if (changed) text.replace(begin, end - begin, JoinLines(part));
    return changed;
  }
  if (count == 0 && writes[i].value) {
    // The first write appends the section at the end; the others then edit only its lines.
    if (!text.empty()) {
      size_t last = text.size();
      if (text.back() == '\n') --last;
      size_t start = text.rfind('\n', last == 0 ? 0 : last - 1);
      start = (start == std::string::npos || last == 0) ? 0 : start + 1;
      std::string_view last_line = std::string_view(text).substr(start, last - start);
      if (!last_line.empty() && last_line.back() == '\r') last_line.remove_suffix(1);
      const bool blank_last = Trim(last_line).empty();  // before text grows under the view
      if (text.back() != '\n') text += "\r\n";
      if (!blank_last) text += "\r\n";
    }
    text += "[" + section + "]\r\n" + writes[i].key + "=" + *writes[i].value + "\r\n";
    if (i + 1 < j) EditText(text, writes, i + 1, j);
    return true;
  }
  std::vector<std::string> lines = SplitLines(text);
  for (size_t k = i; k < j; ++k)
    changed |= ApplyEdit(lines, writes[k].section, &writes[k].key, writes[k].value, false);
  if (changed) text = JoinLines(lines);
  return changed;
}

bool Modify(const std::string& file, const std::string& section, const std::string* key,
            const std::optional<std::string>& value, bool erase_section) {
  if (!ValidSection(section) || (key && !ValidKey(*key)) || (value && !ValidValue(*value)))
    return false;
  std::string path = ResolvePath(file);
  std::string text = LoadForWrite(path);
  if (!erase_section) {
    if (EditText(text, {Write{section, *key, value}}, 0, 1)) StoreText(path, text);
    return true;
  }
  std::vector<std::string> lines = SplitLines(text);
  if (ApplyEdit(lines, section, key, value, true)) StoreText(path, JoinLines(lines));
  return true;
}

bool HasLineBreak(const std::string& s) {
  return s.find_first_of("\r\n") != std::string::npos;
}

}  // namespace

bool ValidSection(const std::string& section) {
  return !HasLineBreak(section) && section.find(']') == std::string::npos;
}

bool ValidKey(const std::string& key) {
  if (HasLineBreak(key) || key.find('=') != std::string::npos) return false;
  std::string_view k = Trim(key);
  return k.empty() || (k[0] != '[' && k[0] != ';');
}

bool ValidValue(const std::string& value) {
  return !HasLineBreak(value);
}

std::string WindowsDirectory() {
  if (const char* d = std::getenv("QL_WINDOWS_DIR"); d && *d) return d;
  if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && *x) return std::string(x) + "/quillon";
  const char* home = std::getenv("HOME");
  return std::string(home ? home : "") + "/.config/quillon";
}

std::string ResolvePath(const std::string& file) {
  if (file.find('/') != std::string::npos) return file;
  return WindowsDirectory() + "/" + file;
}

std::string GetString(const std::string& file, const std::string& section, const std::string& key,
                      const std::string& def) {
  std::string text = Load(ResolvePath(file));
  std::optional<std::string> result;
  ForEachKey(text, section, [&](const Line& line) {
    if (!result && SameText(line.name, key)) result = std::string(line.value);
  });
  return result ? *result : def;
}

bool HasKey(const std::string& file, const std::string& section, const std::string& key) {
  bool found = false;
  ForEachKey(Load(ResolvePath(file)), section,
             [&](const Line& line) { found = found || SameText(line.name, key); });
  return found;
}

std::vector<std::string> SectionNames(const std::string& file) {
  std::vector<std::string> names;
  ForEachLine(Load(ResolvePath(file)), [&](std::string_view raw) {
    if (!MaybeSection(raw)) return;
    Line line = Classify(raw);
    if (line.kind == Line::kSection) names.emplace_back(line.name);
  });
  return names;
}

std::vector<std::string> KeyNames(const std::string& file, const std::string& section) {
  std::vector<std::string> names;
  ForEachKey(Load(ResolvePath(file)), section,
             [&](const Line& line) { names.emplace_back(line.name); });
  return names;
}

std::vector<std::pair<std::string, std::string>> SectionValues(const std::string& file,
                                                               const std::string& section) {
  std::vector<std::pair<std::string, std::string>> values;
  ForEachKey(Load(ResolvePath(file)), section, [&](const Line& line) {
    values.emplace_back(std::string(line.name), std::string(line.value));
  });
  return values;
}

int ParseInt(const std::string& text, int def) {
  std::string_view s = Trim(text);
  bool negative = false;
  if (!s.empty() && (s[0] == '-' || s[0] == '+')) {
    negative = s[0] == '-';
    s.remove_prefix(1);
  }
  int base = 10;
  if (!s.empty() && s[0] == '$') {
    base = 16;
    s.remove_prefix(1);
  } else if (s.size() > 1 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    base = 16;
    s.remove_prefix(2);
  }
  if (s.empty()) return def;
  long long v = 0;
  for (char c : s) {
    int d;
    if (c >= '0' && c <= '9')
      d = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f')
      d = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F')
      d = c - 'A' + 10;
    else
      return def;
    v = v * base + d;
    if (v > 0xFFFFFFFFLL) return def;
  }
  if (base == 10 && v > (negative ? 2147483648LL : 2147483647LL)) return def;
  return static_cast<int>(negative ? -v : v);
}

bool WriteString(const std::string& file, const std::string& section, const std::string& key,
                 const std::optional<std::string>& value) {
  return Modify(file, section, &key, value, false);
}

bool EraseSection(const std::string& file, const std::string& section) {
  return Modify(file, section, nullptr, std::nullopt, true);
}

bool WriteStrings(const std::string& file, const std::vector<Write>& writes) {
  for (const Write& w : writes)
    if (!ValidSection(w.section) || !ValidKey(w.key) || (w.value && !ValidValue(*w.value)))
      return false;
  if (writes.empty()) return true;
  std::string path = ResolvePath(file);
  std::string text = LoadForWrite(path);
  bool changed = false;
  for (size_t i = 0; i < writes.size();) {
    size_t j = i + 1;
    while (j < writes.size() && SameText(writes[j].section, writes[i].section)) ++j;
    changed |= EditText(text, writes, i, j);
    i = j;
  }
  if (changed) StoreText(path, text);
  return true;
}

}  // namespace ql::profile

namespace pf = ql::profile;

std::string TIniFile::ReadString(const std::string& section, const std::string& key,
                                 const std::string& def) const {
  return pf::GetString(FileName, section, key, def);
}

int TIniFile::ReadInteger(const std::string& section, const std::string& key, int def) const {
  std::string s = pf::GetString(FileName, section, key, "");
  return s.empty() ? def : pf::ParseInt(s, def);
}

bool TIniFile::ReadBool(const std::string& section, const std::string& key, bool def) const {
  return ReadInteger(section, key, def ? 1 : 0) != 0;
}

bool TIniFile::WriteString(const std::string& section, const std::string& key,
                           const std::string& value) {
  return pf::WriteString(FileName, section, key, value);
}

bool TIniFile::WriteInteger(const std::string& section, const std::string& key, int value) {
  return WriteString(section, key, std::to_string(value));
}

bool TIniFile::WriteBool(const std::string& section, const std::string& key, bool value) {
  return WriteString(section, key, value ? "1" : "0");
}

bool TIniFile::SectionExists(const std::string& section) const {
  for (const auto& s : pf::SectionNames(FileName))
    if (strcasecmp(s.c_str(), section.c_str()) == 0) return true;
  return false;
}

bool TIniFile::ValueExists(const std::string& section, const std::string& key) const {
  return pf::HasKey(FileName, section, key);
}

std::vector<std::string> TIniFile::ReadSection(const std::string& section) const {
  return pf::KeyNames(FileName, section);
}

std::vector<std::string> TIniFile::ReadSections() const {
  return pf::SectionNames(FileName);
}

std::vector<std::pair<std::string, std::string>> TIniFile::ReadSectionValues(
    const std::string& section) const {
  return pf::SectionValues(FileName, section);
}

bool TIniFile::EraseSection(const std::string& section) {
  return pf::EraseSection(FileName, section);
}

bool TIniFile::DeleteKey(const std::string& section, const std::string& key) {
  return pf::WriteString(FileName, section, key, std::nullopt);
}

bool TIniBatch::WriteString(const std::string& section, const std::string& key,
                            const std::string& value) {
  if (!pf::ValidSection(section) || !pf::ValidKey(key) || !pf::ValidValue(value)) return false;
  writes_.push_back({section, key, value});
  return true;
}

bool TIniBatch::WriteInteger(const std::string& section, const std::string& key, int value) {
  return WriteString(section, key, std::to_string(value));
}

bool TIniBatch::WriteBool(const std::string& section, const std::string& key, bool value) {
  return WriteString(section, key, value ? "1" : "0");
}

void TIniBatch::Commit() {
  std::vector<pf::Write> writes;
  writes.swap(writes_);
  pf::WriteStrings(FileName, writes);
}
