#include "CDImages.h"

#include <climits>
#include <cstdlib>
#include <stdexcept>

#include "DynLib.h"
#include "MMCDRead.h"
#include "mmcdda32.h"

namespace trackwell {

namespace {
std::vector<std::string>& Paths() {
  static std::vector<std::string> paths;
  return paths;
}
}  // namespace

void AddImage(const std::string& path) {
  // The library keeps its drives for the process; the same library object serves the reader.
  static ql::DynLib lib;
  if (!lib.Loaded() && !lib.Load("MMCDDA32.DLL"))
    throw std::runtime_error("Unable to load MMCDDA32.DLL");
  auto add = reinterpret_cast<decltype(&cdda_AddImage)>(lib.Symbol("cdda_AddImage"));
  if (!add) throw std::runtime_error("the CD library cannot add images");
  char buf[PATH_MAX];
  if (!realpath(path.c_str(), buf)) throw std::runtime_error(path + ": File not found");
  if (add(buf) != CDDA_OK) throw std::runtime_error(path + ": not usable as a disc image");
  Paths().push_back(buf);
}

const std::vector<std::string>& ImagePaths() {
  return Paths();
}

void ReadTOCOrFail(TMMCDReader& reader) {
  if (reader.ReadTOC()) return;
  std::string why = reader.ImageError();
  throw EMMCDDAError(why.empty() ? "no readable disc in " + reader.GetDeviceName() : why);
}

void SelectDevice(TMMCDReader& reader, int device) {
  if (device < 0) {
    device = 0;
    const auto& images = ImagePaths();
    if (!images.empty())
      for (int i = 0; i < reader.NumDevices(); ++i)
        if (reader.DeviceName(i) == images.front()) {
          device = i;
          break;
        }
  }
  if (device >= reader.NumDevices())
    throw EMMCDDAError("no device " + std::to_string(device) + " (" +
                       std::to_string(reader.NumDevices()) + " found)");
  reader.SetDeviceID(device);
}

}  // namespace trackwell
