// Read offset correction of every read mode, the image error text and the CD-Text of images
// read by the library itself.
#define DO_NOT_WANT_PARANOIA_COMPATIBILITY
#include <cdio/cdio.h>
#include <cdio/paranoia/cdda.h>
#include <cdio/paranoia/paranoia.h>

#include <algorithm>
#include <cstring>

#include "Drive.h"

namespace cdda {
namespace {

// An offset of N samples moves the data by 4N bytes: q whole sectors and r bytes.
void Split(int32_t samples, int64_t* q, uint32_t* r) {
  const int64_t bytes = int64_t{samples} * 4;
  int64_t sectors = bytes / kSectorBytes;
  if (bytes % kSectorBytes < 0) --sectors;
  *q = sectors;
  *r = static_cast<uint32_t>(bytes - sectors * kSectorBytes);
}

}  // namespace

uint32_t Drive::SetReadOffset(int32_t samples) {
  if (samples > CDDA_MAX_OFFSET || samples < -CDDA_MAX_OFFSET) return CDDA_E_PARAM;
  if (copy_ != Copy::none) return CDDA_E_BUSY;
  offset_ = samples;
  return CDDA_OK;
}

uint32_t Drive::ImageError(char* buffer, uint32_t size) {
  if (!buffer || size == 0) return CDDA_E_PARAM;
  size_t n = std::min<size_t>(imageError_.size(), size - 1);
  std::memcpy(buffer, imageError_.data(), n);
  buffer[n] = 0;
  return CDDA_OK;
}

void Drive::RawSpan(int32_t first, uint32_t count, int64_t* rawFirst, uint32_t* rawCount) const {
  int64_t q;
  uint32_t r;
  Split(offset_, &q, &r);
  const int64_t leadout = const_cast<Drive*>(this)->LeadOut();
  int64_t a = int64_t{first} + q, b = a + count + (r ? 1 : 0);
  a = std::clamp<int64_t>(a, 0, leadout);
  b = std::clamp<int64_t>(b, a, leadout);
  *rawFirst = a;
  *rawCount = static_cast<uint32_t>(b - a);
}

uint32_t Drive::ReadOffsetNormal(uint8_t* out, int32_t first, uint32_t count) {
  int64_t q, a;
  uint32_t r, n;
  Split(offset_, &q, &r);
  RawSpan(first, count, &a, &n);
  if (uint32_t data = CheckAudio(static_cast<int32_t>(a), n)) return data;
  const int64_t from = int64_t{first} + q;  // the raw sector of the buffer's start
  const size_t total = count + (r ? 1 : 0);
  shifted_.assign(total * kSectorBytes, 0);
  if (n > 0) {
    uint32_t rc = ReadSectors(shifted_.data() + static_cast<size_t>(a - from) * kSectorBytes,
                              static_cast<int32_t>(a), n);
    if (rc != CDDA_OK) return rc;
  }
  std::memcpy(out, shifted_.data() + r, static_cast<size_t>(count) * kSectorBytes);
  return CDDA_OK;
}

// The block's raw sectors: the one kept from the previous block, zeros outside the disc, the
// copy's reads inside it. After a failed read the sectors that could be made whole are
// delivered and next_ is the first one that could not.
uint32_t Drive::ReadShifted(uint8_t* out, uint32_t n) {
  int64_t q;
  uint32_t r;
  Split(offset_, &q, &r);
  const int64_t leadout = LeadOut();
  const int64_t from = int64_t{next_} + q;
  const uint32_t total = n + (r ? 1 : 0);
  shifted_.resize(static_cast<size_t>(total) * kSectorBytes);
  uint32_t have = 0;
  if (carrySector_ == from && carry_.size() == kSectorBytes) {
    std::memcpy(shifted_.data(), carry_.data(), kSectorBytes);
    have = 1;
  }
  uint32_t rc = CDDA_OK;
  while (have < total) {
    const int64_t pos = from + have;
    uint8_t* to = shifted_.data() + static_cast<size_t>(have) * kSectorBytes;
    if (pos < 0 || pos >= leadout) {
      std::memset(to, 0, kSectorBytes);
      ++have;
      continue;
    }
    const uint32_t run = static_cast<uint32_t>(std::min<int64_t>(total - have, leadout - pos));
    if (raw_ != pos) {  // after a failure, or the carried sector came from elsewhere
      raw_ = static_cast<int32_t>(pos);
      if (paranoia_) cdio_paranoia_seek(paranoia_, raw_, SEEK_SET);
    }
    rc = ReadRaw(to, run);
    if (rc != CDDA_OK) {
      have += static_cast<uint32_t>(raw_ - pos);
      break;
    }
    have += run;
  }
  const uint32_t whole = std::min(n, have >= total - n ? have - (total - n) : 0);
  std::memcpy(out, shifted_.data() + r, static_cast<size_t>(whole) * kSectorBytes);
  next_ += static_cast<int32_t>(whole);
  if (rc == CDDA_OK && r) {
    carry_.assign(shifted_.end() - kSectorBytes, shifted_.end());
    carrySector_ = from + n;
  } else {
    carrySector_ = -1;
  }
  return rc;
}

void Drive::CDTextFromLayout(std::string* out, uint32_t* fields) const {
  const ImageLayout& L = image_->Layout();
  auto add = [&](int track, const char* field, const std::string& v) {
    if (v.empty()) return;
    *out += std::to_string(track) + "\t" + field + "\t";
    for (char c : v) *out += (c == '\n' || c == '\t' || c == '\r') ? ' ' : c;
    *out += "\n";
    ++*fields;
  };
  add(0, "TITLE", L.title);
  add(0, "PERFORMER", L.performer);
  add(0, "SONGWRITER", L.songwriter);
  add(0, "COMPOSER", L.composer);
  add(0, "MESSAGE", L.message);
  add(0, "ARRANGER", L.arranger);
  add(0, "UPC_EAN", L.catalog);
  add(0, "GENRE", L.genre);
  for (const ImageTrack& t : L.tracks) {
    add(t.number, "TITLE", t.title);
    add(t.number, "PERFORMER", t.performer);
    add(t.number, "SONGWRITER", t.songwriter);
    add(t.number, "COMPOSER", t.composer);
    add(t.number, "MESSAGE", t.message);
    add(t.number, "ARRANGER", t.arranger);
    add(t.number, "ISRC", t.isrc);
  }
}

}  // namespace cdda
