#include "DiscID.h"

#include <cstdio>

namespace ql {

namespace {

int DigitSum(int v) {
  int s = 0;
  for (; v > 0; v /= 10) s += v % 10;
  return s;
}

// Whole seconds of an absolute address as packed minutes and seconds give them.
int StartSeconds(int frames) {
  return frames / 4500 * 60 + (frames / 75) % 60;
}

std::uint32_t Combine(int n, int digit_sum, int seconds) {
  return static_cast<std::uint32_t>(n) ^ (static_cast<std::uint32_t>(digit_sum % 255) << 24) ^
         (static_cast<std::uint32_t>(seconds) << 8);
}

}  // namespace

std::uint32_t CddbDiscID(const std::vector<TMMTrackInfo>& tracks) {
  int n = static_cast<int>(tracks.size());
  if (n == 0) return 0;
  int sum = 0;
  for (const auto& t : tracks) sum += DigitSum(StartSeconds(t.Start));
  // The playing time is measured from the first track's start to the lead-out, as every CDDB
  // server computes it; the sum of the track lengths differs where tracks leave gaps or the first
  // one does not start on a whole second.
  int leadout = tracks.back().Start + tracks.back().Length;
  int seconds = leadout / 75 - tracks.front().Start / 75;
  return Combine(n, sum, seconds);
}

std::uint32_t ClassicDiscID(const std::vector<TMMTrackInfo>& tracks) {
  int n = static_cast<int>(tracks.size());
  if (n == 0) return 0;
  int sum = 0;
  for (const auto& t : tracks) {
    int minutes = t.Start / 75 / 60;
    int seconds = (t.Start / 75) % 60;
    sum += DigitSum(minutes * 60 + seconds);
  }
  // The lead-out address itself, no extra frame: one frame more moves the seconds once in 75.
  int leadout_seconds = (tracks.back().Start + tracks.back().Length) / 75;
  int first = tracks.front().Start / 75 / 60 * 60 + (tracks.front().Start / 75) % 60;
  int t = leadout_seconds - first;
  return (static_cast<std::uint32_t>(sum % 255) << 24) | (static_cast<std::uint32_t>(t) << 8) |
         static_cast<std::uint32_t>(n);
}

int CddbQuerySeconds(const std::vector<TMMTrackInfo>& tracks) {
  // The lead-out address in whole seconds (lead-in included), as the protocol defines the field;
  // the sum of the track lengths falls short by the lead-in and by any hidden first track.
  if (tracks.empty()) return 0;
  long long leadout = static_cast<long long>(tracks.back().Start) + tracks.back().Length;
  return static_cast<int>(leadout / 75);
}

std::string CddbQueryLine(const std::string& disc_id, const std::vector<TMMTrackInfo>& tracks) {
  std::string s = "cddb query " + disc_id + " " + std::to_string(tracks.size());
  for (const auto& t : tracks) s += " " + std::to_string(t.Start);
  s += " " + std::to_string(CddbQuerySeconds(tracks));
  return s;
}

std::string DiscIDText(std::uint32_t id, bool upper) {
  char buf[16];
  std::snprintf(buf, sizeof buf, upper ? "%08X" : "%08x", id);
  return buf;
}

}  // namespace ql
