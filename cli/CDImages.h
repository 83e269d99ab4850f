#pragma once
// Disc images offered as drives with --image FILE (before the command name).
#include <string>
#include <vector>

namespace trackwell {

// Offers the image to the CD library as one more drive; throws when it cannot.
void AddImage(const std::string& path);
// The images given, as absolute paths (the drives' names), in order.
const std::vector<std::string>& ImagePaths();

}  // namespace trackwell
