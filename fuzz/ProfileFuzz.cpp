// Any bytes as an ini file: reading never fails, and a written key reads back while every
// other section survives.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "Profile.h"
#include "TextFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // A folder in memory where there is one: every write of the ini file flushes it to the disk.
  static const std::string path = std::string(access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") +
                                  "/ql-profile-fuzz-" + std::to_string(getpid()) + ".ini";
  ql::WriteFileAtomic(path, std::string(reinterpret_cast<const char*>(data), size));
  TIniFile ini(path);
  auto sections = ini.ReadSections();
  for (const auto& s : sections) {
    for (const auto& [k, v] : ini.ReadSectionValues(s)) (void)ini.ReadInteger(s, k, 0);
  }
  ini.WriteString("Fuzz Section", "Key", "value");
  if (ini.ReadString("fuzz section", "KEY", "") != "value") abort();
  for (const auto& s : sections)
    if (!ini.SectionExists(s)) abort();
  return 0;
}
