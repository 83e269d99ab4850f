#include "SafeName.h"

#include <cstdio>
#include <set>

namespace ripper {

namespace {

// Length of the valid UTF-8 sequence at text[i], or 0 when the bytes there are not one
// (overlong forms, surrogates and code points above U+10FFFF are refused).
std::size_t Utf8Length(std::string_view text, std::size_t i, char32_t& cp) {
  auto b = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  unsigned char c = b(i);
  std::size_t n;
  if (c < 0x80) {
    cp = c;
    return 1;
  } else if (c >= 0xC2 && c <= 0xDF) {
    n = 2;
    cp = c & 0x1F;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
    cp = c & 0x0F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
    cp = c & 0x07;
  } else {
    return 0;
  }
  if (i + n > text.size()) return 0;
  for (std::size_t k = 1; k < n; ++k) {
    if ((b(i + k) & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b(i + k) & 0x3F);
  }
  if ((n == 3 && cp < 0x800) || (n == 4 && cp < 0x10000) || cp > 0x10FFFF ||
      (cp >= 0xD800 && cp <= 0xDFFF))
    return 0;
  return n;
}

bool IsControl(char32_t cp) {
  return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F);
}

std::string Trimmed(std::string s) {
  std::size_t start = 0;
  while (start < s.size() && (s[start] == '.' || s[start] == ' ')) ++start;
  s.erase(0, start);
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

std::string NumberName(int track) {
  if (track <= 0) return "track";
  char buf[16];
  std::snprintf(buf, sizeof buf, "%.2d", track);
  return buf;
}

// SafeValue with the separators replaced and the ends trimmed.
std::string SafeStem(std::string_view name) {
  std::string s = SafeValue(name);
  for (char& c : s)
    if (c == '/' || c == '\\') c = '-';
  return Trimmed(std::move(s));
}

char Lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string Folded(const std::string& s) {
  std::string out = s;
  for (char& c : out) c = Lower(c);
  return out;
}

}  // namespace

std::string SafeValue(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    char32_t cp = 0;
    std::size_t n = Utf8Length(text, i, cp);
    if (n == 0) {
      out += "\xEF\xBF\xBD";
      ++i;
      continue;
    }
    if (!IsControl(cp)) out.append(text.substr(i, n));
    i += n;
  }
  return out;
}

std::string CutUtf8(std::string_view text, std::size_t max) {
  if (text.size() <= max) return std::string(text);
  std::size_t end = max;
  // Step back over continuation bytes to the start of the character that does not fit.
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return std::string(text.substr(0, end));
}

std::string SafeName(std::string_view name, int track) {
  std::string s = Trimmed(CutUtf8(SafeStem(name), kMaxNameBytes));
  return s.empty() ? NumberName(track) : s;
}

std::string SafeFileName(std::string_view stem, std::string_view ext, int track) {
  std::string e = SafeStem(ext);
  if (e.size() > 16) e = CutUtf8(e, 16);
  std::size_t room = kMaxNameBytes - (e.empty() ? 0 : e.size() + 1);
  std::string s = Trimmed(CutUtf8(SafeStem(stem), room));
  if (s.empty()) s = NumberName(track);
  return e.empty() ? s : s + "." + e;
}

bool IsSafeName(std::string_view name) {
  return !name.empty() && SafeName(name) == name;
}

void MakeDistinct(std::vector<std::string>& names) {
  std::set<std::string> taken;
  for (const std::string& n : names) taken.insert(Folded(n));
  std::set<std::string> seen;
  for (std::string& name : names) {
    if (seen.insert(Folded(name)).second) continue;
    std::size_t dot = name.rfind('.');
    std::string stem = dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
    std::string ext = dot == std::string::npos || dot == 0 ? "" : name.substr(dot);
    for (int k = 2;; ++k) {
      std::string suffix = " (" + std::to_string(k) + ")";
      std::string candidate =
          CutUtf8(stem, kMaxNameBytes - suffix.size() - ext.size()) + suffix + ext;
      std::string folded = Folded(candidate);
      if (!taken.count(folded) && !seen.count(folded)) {
        name = candidate;
        seen.insert(folded);
        taken.insert(folded);
        break;
      }
    }
  }
}

}  // namespace ripper
