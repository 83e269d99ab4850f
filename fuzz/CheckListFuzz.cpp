// Any bytes as a media list: the check-mark parse never over-reads, and what it reads is
// written and read back unchanged (the format is strictly positional).
#include <cstdint>
#include <cstdlib>
#include <string>

#include "CheckListFormat.h"
#include "TextFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  auto lines = ql::SplitLines(text);
  auto rows = ParseCheckList(lines, 0, (lines.size() + 1) / 2);
  if (rows.size() != (lines.size() + 1) / 2) abort();
  for (const auto& r : rows)
    if (r.text.find('\n') != std::string::npos) return 0;  // a lone CR survives, LF cannot
  auto again = ParseCheckList(ql::SplitLines(FormatCheckList(rows)), 0, rows.size());
  if (again.size() != rows.size()) abort();
  for (size_t i = 0; i < rows.size(); ++i)
    if (again[i].text != rows[i].text || again[i].checked != rows[i].checked) abort();
  return 0;
}
