#pragma once
// Small text helpers of the image sheet readers.
#include <cctype>
#include <cstdint>
#include <string>
#include <string_view>

namespace cdda::sheet {

inline bool Fail(std::string& error, int line, const std::string& why) {
  error = "line " + std::to_string(line) + ": " + why;
  return false;
}

inline std::string Upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

inline bool Space(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

inline void SkipSpace(std::string_view& s) {
  while (!s.empty() && Space(s.front())) s.remove_prefix(1);
}

// The next word of s (a quoted word without its quotes).
inline std::string Word(std::string_view& s) {
  SkipSpace(s);
  if (s.empty()) return {};
  if (s.front() == '"') {
    size_t end = s.find('"', 1);
    std::string w(s.substr(1, end == std::string_view::npos ? std::string_view::npos : end - 1));
    s.remove_prefix(end == std::string_view::npos ? s.size() : end + 1);
    return w;
  }
  size_t n = 0;
  while (n < s.size() && !Space(s[n])) ++n;
  std::string w(s.substr(0, n));
  s.remove_prefix(n);
  return w;
}

// The rest of the line as a value: trimmed, surrounding quotes removed.
inline std::string Value(std::string_view s) {
  SkipSpace(s);
  while (!s.empty() && Space(s.back())) s.remove_suffix(1);
  if (s.size() >= 2 && s.front() == '"' && s.back() == '"')
    s = s.substr(1, s.size() - 2);
  else if (!s.empty() && s.front() == '"')
    s.remove_prefix(1);
  return std::string(s);
}

// FILE's name (quoted or not, possibly with spaces) and its type (the last word).
inline bool FileArgs(std::string_view s, std::string* name, std::string* type) {
  SkipSpace(s);
  while (!s.empty() && Space(s.back())) s.remove_suffix(1);
  size_t cut = s.size();
  while (cut > 0 && !Space(s[cut - 1])) --cut;
  if (cut == 0) return false;
  *type = std::string(s.substr(cut));
  *name = Value(s.substr(0, cut));
  return !name->empty();
}

inline bool Int(std::string_view s, int lo, int hi, int* out) {
  if (s.empty() || s.size() > 9) return false;
  int v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  if (v < lo || v > hi) return false;
  *out = v;
  return true;
}

// mm:ss:ff as sectors (minutes up to 999).
inline bool Msf(std::string_view s, int32_t* out) {
  size_t a = s.find(':');
  if (a == std::string_view::npos) return false;
  size_t b = s.find(':', a + 1);
  if (b == std::string_view::npos) return false;
  int m = 0, sec = 0, f = 0;
  if (!Int(s.substr(0, a), 0, 999, &m) || !Int(s.substr(a + 1, b - a - 1), 0, 59, &sec) ||
      !Int(s.substr(b + 1), 0, 74, &f))
    return false;
  *out = (m * 60 + sec) * 75 + f;
  return true;
}

// Calls fn(lineNumber, line) for every line (LF or CR LF; a UTF-8 byte order mark skipped)
// until it returns false.
template <class Fn>
bool ForEachLine(std::string_view text, Fn fn) {
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  int n = 0;
  while (!text.empty()) {
    size_t end = text.find_first_of("\r\n");
    std::string_view line = text.substr(0, end);
    ++n;
    if (end == std::string_view::npos) {
      text = {};
    } else {
      text.remove_prefix(end);
      if (text.substr(0, 2) == "\r\n")
        text.remove_prefix(2);
      else
        text.remove_prefix(1);
    }
    if (!fn(n, line)) return false;
  }
  return true;
}

}  // namespace cdda::sheet
