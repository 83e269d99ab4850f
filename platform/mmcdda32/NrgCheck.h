#pragma once
// A Nero image's layout checked before libcdio reads it: libcdio trusts the footer's offset and
// every chunk's size, and a damaged or hostile file makes it read or allocate far outside the
// file. Only a file whose footer and chunk chain hold together is handed on.
#include <cstdint>
#include <string>

namespace cdda {

// True when the file's name ends with ".nrg" (any case).
bool IsNrgPath(const std::string& path);

// Why the image cannot be read ("" when its layout holds together): the footer, the chunk chain
// up to "END!", and within the chunks the track tables and their offsets into the file.
std::string NrgProblem(const std::string& path);

// The same over the file's size and its trailing bytes (from `tail_offset` to the end).
std::string NrgProblemIn(std::uint64_t file_size, std::uint64_t tail_offset,
                         const std::string& tail);

}  // namespace cdda
