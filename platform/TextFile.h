#pragma once
// Byte text files with CR LF line ends, and the atomic replace every writer of the system uses:
// a failed or interrupted write never leaves a truncated file behind.
#include <string>
#include <string_view>
#include <vector>

namespace ql {

// Whole file as bytes. Throws EInOutError (for instance "File not found").
std::string ReadFileBytes(const std::string& path);
// Lines of a byte text; a line ends at CR LF or LF. A last line without an end is a line, an
// empty text has no lines.
std::vector<std::string> SplitLines(std::string_view text);
// Writes bytes to a temporary file beside path, flushes it to the disk and renames it over
// path (a PartialFile: a symbolic link is written through, a device or FIFO refused). On
// failure the old file is untouched and EInOutError is thrown.
void WriteFileAtomic(const std::string& path, std::string_view bytes);

}  // namespace ql
