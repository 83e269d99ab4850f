#pragma once
// The check-mark list format without any user interface: for each row a line "1" (checked)
// or anything else (clear), then a line with the row's string; CR LF line ends on writing.
#include <string>
#include <vector>

struct TCheckRow {
  std::string text;
  bool checked = false;
};

std::string FormatCheckList(const std::vector<TCheckRow>& rows);
// Reads up to pairs rows from lines starting at first; a check line without a string line
// after it gives a row with an empty string.
std::vector<TCheckRow> ParseCheckList(const std::vector<std::string>& lines, size_t first,
                                      size_t pairs);
