#include "CheckListFormat.h"

std::string FormatCheckList(const std::vector<TCheckRow>& rows) {
  std::string bytes;
  size_t size = 0;
  for (const auto& r : rows) size += r.text.size() + 5;
  bytes.reserve(size);
  for (const auto& r : rows) {
    bytes += r.checked ? "1\r\n" : "0\r\n";
    bytes += r.text;
    bytes += "\r\n";
  }
  return bytes;
}

std::vector<TCheckRow> ParseCheckList(const std::vector<std::string>& lines, size_t first,
                                      size_t pairs) {
  std::vector<TCheckRow> rows;
  rows.reserve(std::min(pairs, lines.size() / 2 + 1));
  for (size_t i = first; rows.size() < pairs && i < lines.size(); i += 2) {
    std::string text = i + 1 < lines.size() ? lines[i + 1] : std::string();
    rows.push_back({std::move(text), lines[i] == "1"});
  }
  return rows;
}
