#include "RipReport.h"

#include <algorithm>

#include "Checksums.h"

namespace trackwell {

std::string JsonString(const std::string& s) {
  std::string out = "\"";
  for (std::size_t i = 0; i < s.size();) {
    const auto b = static_cast<unsigned char>(s[i]);
    if (b == '"' || b == '\\') {
      out += '\\';
      out += static_cast<char>(b);
      ++i;
    } else if (b < 0x20 || b == 0x7f) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", b);
      out += buf;
      ++i;
    } else if (b < 0x80) {
      out += static_cast<char>(b);
      ++i;
    } else {
      // A whole, valid UTF-8 sequence is copied; anything else becomes U+FFFD.
      std::size_t n = (b & 0xe0) == 0xc0 ? 2 : (b & 0xf0) == 0xe0 ? 3 : (b & 0xf8) == 0xf0 ? 4 : 0;
      std::uint32_t cp = n == 2 ? b & 0x1f : n == 3 ? b & 0x0f : b & 0x07;
      bool ok = n != 0 && i + n <= s.size();
      for (std::size_t k = 1; ok && k < n; ++k) {
        const auto c = static_cast<unsigned char>(s[i + k]);
        ok = (c & 0xc0) == 0x80;
        cp = cp << 6 | (c & 0x3f);
      }
      static const std::uint32_t minimum[5] = {0, 0, 0x80, 0x800, 0x10000};
      ok = ok && cp >= minimum[n] && cp <= 0x10ffff && !(cp >= 0xd800 && cp <= 0xdfff);
      if (ok) {
        out.append(s, i, n);
        i += n;
      } else {
        out += "\\ufffd";
        ++i;
      }
    }
  }
  return out + "\"";
}

void WriteJsonSummary(std::FILE* out, const std::vector<TrackResult>& tracks, bool ok) {
  std::fprintf(out, "{\"ok\": %s, \"tracks\": [", ok ? "true" : "false");
  for (std::size_t i = 0; i < tracks.size(); ++i) {
    const TrackResult& t = tracks[i];
    char crc[16];
    std::snprintf(crc, sizeof crc, "%08x", t.crc);
    std::fprintf(out,
                 "%s\n  {\"number\": %d, \"name\": %s, \"file\": %s, \"bytes\": %lld, "
                 "\"status\": %s, \"crc32\": \"%s\", \"audio_bytes\": %lld, "
                 "\"skipped_sectors\": %ld",
                 i ? "," : "", t.number, JsonString(t.name).c_str(), JsonString(t.file).c_str(),
                 static_cast<long long>(t.bytes), JsonString(t.status).c_str(), crc,
                 static_cast<long long>(t.audioBytes), t.skippedSectors);
    if (t.arComputed)
      std::fprintf(out,
                   ", \"accuraterip_v1\": \"%08x\", \"accuraterip_v2\": \"%08x\", "
                   "\"accuraterip\": %s, \"accuraterip_confidence\": %d",
                   t.arV1, t.arV2, JsonString(t.accurateRip).c_str(), t.arConfidence);
    if (t.tested)
      std::fprintf(
          out, ", \"test_crc32\": \"%08x\", \"copy_crc32\": \"%08x\", \"test_and_copy\": \"%s\"",
          t.testCrc, t.crc, t.TestAndCopyMatch() ? "match" : "mismatch");
    if (!t.reason.empty()) std::fprintf(out, ", \"reason\": %s", JsonString(t.reason).c_str());
    std::fprintf(out, "}");
  }
  std::fprintf(out, "\n]}\n");
  std::fflush(out);
}

void PrintProgress(int track, int percent, double speed, bool test) {
  std::fprintf(stderr, "track %d%s: %d%% %.1fx\n", track, test ? " test" : "", percent, speed);
}

}  // namespace trackwell
