#pragma once
// cdrdao tables of contents name their audio files relative to the folder of the .toc file.
#include <string>

namespace cdda {

// The text with every relative name after FILE, AUDIOFILE or DATAFILE prefixed by `dir`
// (which ends with '/'); the rest stays as it is.
std::string AbsoluteTocPaths(const std::string& text, const std::string& dir);

}  // namespace cdda
