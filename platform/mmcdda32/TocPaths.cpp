#include "TocPaths.h"

#include <cctype>
#include <cstring>

namespace cdda {
namespace {

bool WordChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
}

// Length of the keyword starting at text[i], or 0.
size_t Keyword(const std::string& text, size_t i) {
  if (i > 0 && WordChar(text[i - 1])) return 0;
  for (const char* k : {"AUDIOFILE", "DATAFILE", "FILE"}) {
    size_t n = std::strlen(k);
    if (text.compare(i, n, k) == 0 && (i + n >= text.size() || !WordChar(text[i + n]))) return n;
  }
  return 0;
}

}  // namespace

std::string AbsoluteTocPaths(const std::string& text, const std::string& dir) {
  std::string out;
  out.reserve(text.size() + dir.size());
  size_t i = 0;
  while (i < text.size()) {
    size_t n = Keyword(text, i);
    if (n == 0) {
      out += text[i++];
      continue;
    }
    size_t end = i + n, j = end;
    while (j < text.size() && std::isspace(static_cast<unsigned char>(text[j]))) ++j;
    out.append(text, i, j - i);
    i = j;
    // A quoted name that is neither absolute, empty nor "-" (standard input).
    if (j > end && j + 1 < text.size() && text[j] == '"' && text[j + 1] != '/' &&
        text[j + 1] != '"' && text.compare(j, 3, "\"-\"") != 0) {
      out += '"';
      out += dir;
      i = j + 1;
    }
  }
  return out;
}

}  // namespace cdda
