#pragma once
// Disc images offered as drives with --image FILE (before the command name).
#include <string>
#include <vector>

class TMMCDReader;

namespace trackwell {

// Offers the image to the CD library as one more drive; throws when it cannot.
void AddImage(const std::string& path);
// The images given, as absolute paths (the drives' names), in order.
const std::vector<std::string>& ImagePaths();
// Selects the device chosen with --device (device >= 0), else the first image given with
// --image, else device 0. Throws EMMCDDAError for a device that is not there.
void SelectDevice(TMMCDReader& reader, int device);

// Reads the table of contents; EMMCDDAError "no readable disc in DEVICE", or for an image that
// cannot be used its reason ("disc.cue: line 7: FILE "a.bin": file not found").
void ReadTOCOrFail(TMMCDReader& reader);

}  // namespace trackwell
