// An encoder library that fails where it is told to, for the MP3 component's failure paths.
// Chunks of 1152 frames; every call that succeeds writes a few marker bytes.
#include <cstring>
#include <string>

#include "bladeenc.h"

namespace {
std::string failAt;
int openStreams = 0;
}  // namespace

extern "C" {

// "init", "encode", "deinit" or "" for none.
void fakeBladeFailAt(const char* call) {
  failAt = call;
}
int fakeBladeOpenStreams() {
  return openStreams;
}

BE_ERR beInitStream(PBE_CONFIG cfg, uint32_t* samples, uint32_t* size, PHBE_STREAM h) {
  if (failAt == "init") return BE_ERR_INVALID_FORMAT_PARAMETERS;
  *samples = cfg->format.mp3.byMode == BE_MP3_MODE_MONO ? 1152 : 2304;
  *size = 64;
  *h = 7;
  ++openStreams;
  return BE_ERR_SUCCESSFUL;
}

BE_ERR beEncodeChunk(HBE_STREAM, uint32_t, int16_t*, uint8_t* out, uint32_t* n) {
  if (failAt == "encode") return BE_ERR_INVALID_HANDLE;
  std::memcpy(out, "enc", 3);  // NOLINT(bugprone-not-null-terminated-result): data, not text
  *n = 3;
  return BE_ERR_SUCCESSFUL;
}

BE_ERR beDeinitStream(HBE_STREAM, uint8_t* out, uint32_t* n) {
  if (failAt == "deinit") return BE_ERR_INVALID_HANDLE;
  std::memcpy(out, "end", 3);  // NOLINT(bugprone-not-null-terminated-result): data, not text
  *n = 3;
  return BE_ERR_SUCCESSFUL;
}

BE_ERR beCloseStream(HBE_STREAM) {
  --openStreams;
  return BE_ERR_SUCCESSFUL;
}

}  // extern "C"
