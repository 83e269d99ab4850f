#include "Drive.h"

#define DO_NOT_WANT_PARANOIA_COMPATIBILITY
#include <sys/stat.h>

#include <cdio/cdio.h>
#include <algorithm>
// after cdio.h, which it needs
#include <cdio/audio.h>
#include <cdio/cdtext.h>
#include <cdio/mmc.h>
#include <cdio/mmc_hl_cmds.h>
#include <cdio/mmc_ll_cmds.h>
#include <cdio/paranoia/cdda.h>
#include <cdio/paranoia/paranoia.h>
#include <cstring>
#include <string>

#include "NrgCheck.h"

namespace cdda {
namespace {

constexpr uint32_t kLeadIn = 150;
// Sectors per read command: drives take about 64 KiB per command, images any amount.
constexpr uint32_t kDriveChunk = 26;
constexpr uint32_t kImageChunk = 1024;
// A burst copy reads this many sectors ahead of the caller's block (one drive command; a
// larger buffer only falls out of the processor cache on images).
constexpr uint32_t kDriveAhead = 26;

uint32_t PackMSF(uint32_t frames) {
  uint32_t m = frames / 4500, s = (frames / 75) % 60, f = frames % 75;
  return (m & 0xFF) | (s << 8) | (f << 16);
}

bool FileExists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

// Paranoia's callback has no context argument: the sync read that runs on this thread counts
// its events here (calls on one handle are serialised, so one thread runs one read at a time).
struct SyncEvents {
  uint32_t readErrors = 0;
  uint32_t skips = 0;
};
thread_local SyncEvents* tSyncEvents = nullptr;

void CountSyncEvent(long /*inpos*/, paranoia_cb_mode_t mode) {
  if (!tSyncEvents) return;
  if (mode == PARANOIA_CB_READERR) ++tSyncEvents->readErrors;
  if (mode == PARANOIA_CB_SKIP) ++tSyncEvents->skips;
}

// Tries paranoia makes for one sector before it gives up (and we report the sector).
constexpr int kSyncRetries = 20;

}  // namespace

Drive::Drive(bool diagnostics) : diagnostics_(diagnostics) {
  devices_ = ScanDevices();
  Refresh();
}

Drive::~Drive() {
  EndCopy();
  CloseSource();
}

void Drive::Refresh() {
  size_t total = 0;
  auto added = AddedImagesFrom(addedSeen_, &total);
  for (auto& d : added) {
    bool listed = std::any_of(devices_.begin(), devices_.end(),
                              [&](const DeviceEntry& e) { return e.path == d.path; });
    if (!listed) devices_.push_back(d);
  }
  addedSeen_ = total;
  types_.resize(devices_.size(), 0);
}

const DeviceEntry* Drive::Selected() const {
  return selected_ >= 0 ? &devices_[static_cast<size_t>(selected_)] : nullptr;
}

uint32_t Drive::NumDevices() {
  Refresh();
  return static_cast<uint32_t>(devices_.size());
}

uint32_t Drive::DeviceName(uint32_t index, char* buffer, uint32_t size) {
  Refresh();
  if (index >= devices_.size()) return CDDA_E_DEVICE;
  if (!buffer || size == 0) return CDDA_E_PARAM;
  const std::string& name = devices_[index].path;
  size_t n = std::min<size_t>(name.size(), size - 1);
  std::memcpy(buffer, name.data(), n);
  buffer[n] = 0;
  return CDDA_OK;
}

uint32_t Drive::DriveLetter(uint32_t index, char* letter) {
  Refresh();
  if (index >= devices_.size()) return CDDA_E_DEVICE;
  if (!letter) return CDDA_E_PARAM;
  // "D" to "Z", then the letters Windows keeps for floppies and the system drive.
  static const char kLetters[] = "DEFGHIJKLMNOPQRSTUVWXYZABC";
  if (index >= sizeof(kLetters) - 1) return CDDA_E_NOLETTER;
  *letter = kLetters[index];
  return CDDA_OK;
}

uint32_t Drive::SetDeviceID(uint32_t index) {
  Refresh();
  if (index >= devices_.size()) return CDDA_E_DEVICE;
  if (selected_ == static_cast<int>(index)) return CDDA_OK;
  EndCopy();
  CloseSource();
  imageError_.clear();
  openMode_ = -1;
  trayOpen_ = false;
  locked_ = false;
  speed_ = CDDA_SPEED_MAX;
  selected_ = static_cast<int>(index);
  return CDDA_OK;
}

uint32_t Drive::SetDeviceType(uint32_t type) {
  if (!Selected()) return CDDA_E_NODEVICE;
  if (type > 23) return CDDA_E_PARAM;
  types_[static_cast<size_t>(selected_)] = type;
  return CDDA_OK;
}

void Drive::CloseSource() {
  if (cdio_) cdio_destroy(cdio_);
  cdio_ = nullptr;
  image_.reset();
  dataSpans_.clear();
  spansKnown_ = false;
}

uint32_t Drive::CheckAudio(int32_t first, uint32_t count) {
  if (!spansKnown_ && image_) {
    dataSpans_.clear();
    for (const Segment& seg : image_->Layout().segments) {
      if (seg.kind != Segment::data) continue;
      auto a = static_cast<int32_t>(seg.first / kSectorBytes);
      auto b = static_cast<int32_t>((seg.first + seg.bytes + kSectorBytes - 1) / kSectorBytes);
      if (!dataSpans_.empty() && dataSpans_.back().end >= a)
        dataSpans_.back().end = std::max(dataSpans_.back().end, b);
      else
        dataSpans_.push_back({a, b});
    }
    spansKnown_ = true;
  }
  if (!spansKnown_) {
    dataSpans_.clear();
    track_t t0 = cdio_get_first_track_num(cdio_);
    track_t n = cdio_get_num_tracks(cdio_);
    int32_t leadout = LeadOut();
    if (t0 != CDIO_INVALID_TRACK && n != CDIO_INVALID_TRACK) {
      for (track_t i = 0; i < n; ++i) {
        track_t t = static_cast<track_t>(t0 + i);
        if (cdio_get_track_format(cdio_, t) == TRACK_FORMAT_AUDIO) continue;
        lsn_t start = cdio_get_track_lsn(cdio_, t);
        lsn_t next = i + 1 < n ? cdio_get_track_lsn(cdio_, static_cast<track_t>(t + 1)) : leadout;
        if (start == CDIO_INVALID_LSN) continue;
        dataSpans_.push_back({start, next == CDIO_INVALID_LSN ? INT32_MAX : next});
      }
    }
    spansKnown_ = true;
  }
  const int64_t end = static_cast<int64_t>(first) + count;
  for (const Span& d : dataSpans_)
    if (first < d.end && d.first < end) return CDDA_E_DATA;
  return CDDA_OK;
}

uint32_t Drive::Ensure() {
  const DeviceEntry* d = Selected();
  if (!d) return CDDA_E_NODEVICE;
  if (d->image && trayOpen_) return CDDA_E_DOOROPEN;
  if (cdio_ || image_) return CDDA_OK;
  if (d->image && !FileExists(d->path)) return CDDA_E_NOTREADY;
  if (d->image && ImageDisc::Handles(d->path)) {
    imageError_.clear();
    image_ = ImageDisc::Open(d->path, &imageError_);
    return image_ ? CDDA_OK : CDDA_E_IMAGE;
  }
  if (d->image && IsNrgPath(d->path)) {
    imageError_ = NrgProblem(d->path);
    if (!imageError_.empty()) {
      imageError_ = d->path.substr(d->path.rfind('/') + 1) + ": " + imageError_;
      return CDDA_E_IMAGE;
    }
  }
  cdio_ = OpenSource(*d);
  if (!cdio_) return d->image ? CDDA_E_OPEN : CDDA_E_NOTREADY;
  return CDDA_OK;
}

uint32_t Drive::Open(uint32_t mode) {
  if (!Selected()) return CDDA_E_NODEVICE;
  if (mode > CDDA_OPEN_AUDIO) return CDDA_E_PARAM;
  openMode_ = static_cast<int>(mode);
  // A drive without a disc can still be opened for control (tray, status).
  uint32_t rc = Ensure();
  if (mode == CDDA_OPEN_AUDIO && rc != CDDA_OK) {
    openMode_ = -1;
    return rc;
  }
  return CDDA_OK;
}

uint32_t Drive::Close() {
  if (!Selected()) return CDDA_E_NODEVICE;
  EndCopy();
  CloseSource();
  openMode_ = -1;
  return CDDA_OK;
}

uint32_t Drive::Ready() {
  const DeviceEntry* d = Selected();
  if (!d) return CDDA_E_NODEVICE;
  // A real drive's disc may have changed since it was opened: look again when idle (but
  // not while the door is locked, which the last close of the device would undo).
  if (!d->image && copy_ == Copy::none && !locked_) CloseSource();
  uint32_t rc = Ensure();
  if (rc != CDDA_OK) return rc;
  if (image_) return CDDA_OK;
  if (cdio_get_num_tracks(cdio_) == CDIO_INVALID_TRACK) return CDDA_E_NOTREADY;
  return CDDA_OK;
}

uint32_t Drive::Status() {
  const DeviceEntry* d = Selected();
  if (!d) return CDDA_STATUS_NOT_READY;
  if (d->image) {
    if (trayOpen_) return CDDA_STATUS_OPEN;
    return Ready() == CDDA_OK ? CDDA_STATUS_STOPPED : CDDA_STATUS_NOT_READY;
  }
  if (copy_ == Copy::none && !locked_) CloseSource();
  if (!cdio_) cdio_ = OpenSource(*d);
  if (!cdio_) return CDDA_STATUS_NOT_READY;
  if (mmc_get_tray_status(cdio_) == 1) return CDDA_STATUS_OPEN;
  cdio_subchannel_t sub;
  if (cdio_audio_read_subchannel(cdio_, &sub) == DRIVER_OP_SUCCESS) {
    if (sub.audio_status == CDIO_MMC_READ_SUB_ST_PLAY) return CDDA_STATUS_PLAYING;
    if (sub.audio_status == CDIO_MMC_READ_SUB_ST_PAUSED) return CDDA_STATUS_PAUSED;
  }
  return cdio_get_num_tracks(cdio_) == CDIO_INVALID_TRACK ? CDDA_STATUS_NOT_READY
                                                          : CDDA_STATUS_STOPPED;
}

int32_t Drive::LeadOut() {
  if (image_) return image_->Layout().leadout;
  lsn_t lsn = cdio_get_track_lsn(cdio_, CDIO_CDROM_LEADOUT_TRACK);
  return lsn == CDIO_INVALID_LSN ? -1 : lsn;
}

uint32_t Drive::ReadTOC(CDDA_TOC* toc) {
  if (!toc) return CDDA_E_PARAM;
  uint32_t rc = Ready();
  if (rc != CDDA_OK) return rc;
  if (image_) {
    const ImageLayout& L = image_->Layout();
    std::memset(toc, 0, sizeof(*toc));
    toc->dwNumTracks = static_cast<uint32_t>(L.tracks.size());
    for (size_t i = 0; i < L.tracks.size(); ++i) {
      const ImageTrack& t = L.tracks[i];
      CDDA_TRACK& e = toc->Tracks[i];
      e.dwTrack = static_cast<uint32_t>(t.number);
      e.dwStartMSF = PackMSF(static_cast<uint32_t>(t.start) + kLeadIn);
      e.dwLengthMSF = PackMSF(static_cast<uint32_t>(L.TrackEnd(i) - t.start));
      e.bAttrib = static_cast<uint8_t>(
          (t.preEmphasis ? CDDA_ATTR_PREEMPHASIS : 0) | (t.copy ? CDDA_ATTR_COPY : 0) |
          (t.audio ? 0 : CDDA_ATTR_DATA) | (t.fourChannel ? CDDA_ATTR_FOURCHANNEL : 0));
      e.fAudio = t.audio ? 1 : 0;
      e.fCopy = t.copy ? 1 : 0;
    }
    return CDDA_OK;
  }
  track_t first = cdio_get_first_track_num(cdio_);
  track_t count = cdio_get_num_tracks(cdio_);
  int32_t leadout = LeadOut();
  if (first == CDIO_INVALID_TRACK || count == 0 || count > CDDA_MAX_TRACKS || leadout < 0)
    return CDDA_E_NOTREADY;
  // An enhanced disc (a real drive's multi-session disc) holds its audio in the first session
  // and data in a later one: the last audio track ends with its session, 11400 sectors (lead-out
  // 6750, lead-in 4500, pregap 150) before the first track of the last session. Those sectors
  // cannot be read as audio, so they are no part of the track.
  constexpr lsn_t kSessionGap = 11400;
  lsn_t lastSession = 0;
  if (Selected()->image || cdio_get_last_session(cdio_, &lastSession) != DRIVER_OP_SUCCESS)
    lastSession = 0;
  std::memset(toc, 0, sizeof(*toc));
  toc->dwNumTracks = count;
  for (track_t i = 0; i < count; ++i) {
    track_t t = static_cast<track_t>(first + i);
    lsn_t start = cdio_get_track_lsn(cdio_, t);
    lsn_t next = i + 1 < count ? cdio_get_track_lsn(cdio_, static_cast<track_t>(t + 1)) : leadout;
    if (start == CDIO_INVALID_LSN || next == CDIO_INVALID_LSN || next < start) return CDDA_E_READ;
    bool audio = cdio_get_track_format(cdio_, t) == TRACK_FORMAT_AUDIO;
    if (audio && lastSession > kSessionGap && next == lastSession &&
        start < lastSession - kSessionGap)
      next = lastSession - kSessionGap;
    // A data track after an audio track in the same session has a pregap of at least two
    // seconds, in the data track's mode: no audio.
    else if (audio && i + 1 < count && next - start > 150 &&
             cdio_get_track_format(cdio_, static_cast<track_t>(t + 1)) != TRACK_FORMAT_AUDIO)
      next -= 150;
    CDDA_TRACK& e = toc->Tracks[i];
    e.dwTrack = t;
    e.dwStartMSF = PackMSF(static_cast<uint32_t>(start) + kLeadIn);
    e.dwLengthMSF = PackMSF(static_cast<uint32_t>(next - start));
    bool copy = cdio_get_track_copy_permit(cdio_, t) == CDIO_TRACK_FLAG_TRUE;
    bool pre = cdio_get_track_preemphasis(cdio_, t) == CDIO_TRACK_FLAG_TRUE;
    e.bAttrib =
        static_cast<uint8_t>((pre ? CDDA_ATTR_PREEMPHASIS : 0) | (copy ? CDDA_ATTR_COPY : 0) |
                             (audio ? 0 : CDDA_ATTR_DATA) |
                             (cdio_get_track_channels(cdio_, t) == 4 ? CDDA_ATTR_FOURCHANNEL : 0));
    e.fAudio = audio ? 1 : 0;
    e.fCopy = copy ? 1 : 0;
  }
  return CDDA_OK;
}

uint32_t Drive::ReadPregaps(uint32_t* sectors) {
  if (!sectors) return CDDA_E_PARAM;
  std::fill(sectors, sectors + CDDA_MAX_TRACKS, 0u);
  uint32_t rc = Ready();
  if (rc != CDDA_OK) return rc;
  if (image_) {
    const ImageLayout& L = image_->Layout();
    for (size_t i = 0; i < L.tracks.size() && i < CDDA_MAX_TRACKS; ++i) {
      const ImageTrack& t = L.tracks[i];
      if (t.pregap >= 0 && t.pregap < t.start)
        sectors[i] = static_cast<uint32_t>(t.start - t.pregap);
    }
    return CDDA_OK;
  }
  // Other images and drives: what libcdio knows (drives mostly cannot tell without scanning
  // the sub-channel, and report nothing).
  track_t first = cdio_get_first_track_num(cdio_);
  track_t count = cdio_get_num_tracks(cdio_);
  if (first == CDIO_INVALID_TRACK || count > CDDA_MAX_TRACKS) return CDDA_OK;
  for (track_t i = 0; i < count; ++i) {
    const track_t t = static_cast<track_t>(first + i);
    const lsn_t start = cdio_get_track_lsn(cdio_, t);
    const lsn_t gap = cdio_get_track_pregap_lsn(cdio_, t);
    if (start != CDIO_INVALID_LSN && gap != CDIO_INVALID_LSN && gap >= 0 && gap < start)
      sectors[i] = static_cast<uint32_t>(start - gap);
  }
  return CDDA_OK;
}

uint32_t Drive::ReadCDText(CDDA_CDTEXT* text) {
  if (!text) return CDDA_E_PARAM;
  *text = {};
  uint32_t rc = Ready();
  if (rc != CDDA_OK) return rc;
  std::string out;
  uint32_t fields = 0;
  if (image_) {
    CDTextFromLayout(&out, &fields);
  } else if (cdtext_t* ct = cdio_get_cdtext(cdio_)) {
    track_t first = cdio_get_first_track_num(cdio_);
    track_t count = cdio_get_num_tracks(cdio_);
    static const char* const kNames[] = {"TITLE",   "PERFORMER", "SONGWRITER", "COMPOSER",
                                         "MESSAGE", "ARRANGER",  "ISRC",       "UPC_EAN",
                                         "GENRE",   "DISCID"};
    for (int t = -1; t < count; ++t) {
      track_t track = t < 0 ? 0 : static_cast<track_t>(first + t);
      for (int f = 0; f < MAX_CDTEXT_FIELDS; ++f) {
        const char* v = cdtext_get_const(ct, static_cast<cdtext_field_t>(f), track);
        if (!v || !*v) continue;
        out += std::to_string(track) + "\t" + kNames[f] + "\t";
        for (const char* c = v; *c; ++c) out += (*c == '\n' || *c == '\t') ? ' ' : *c;
        out += "\n";
        ++fields;
      }
    }
  }
  if (!image_) {
    // The catalogue number and the ISRCs of the sub-channel, where CD-Text has none.
    auto add = [&](int track, const char* field, char* value) {
      std::string prefix = std::to_string(track) + "\t" + field + "\t";
      if (value && *value && out.find(prefix) != 0 &&
          out.find("\n" + prefix) == std::string::npos) {
        out += prefix + value + "\n";
        ++fields;
      }
      free(value);
    };
    add(0, "UPC_EAN", cdio_get_mcn(cdio_));
    track_t first = cdio_get_first_track_num(cdio_);
    track_t count = cdio_get_num_tracks(cdio_);
    for (track_t i = 0; first != CDIO_INVALID_TRACK && count != CDIO_INVALID_TRACK && i < count;
         ++i)
      if (cdio_get_track_format(cdio_, static_cast<track_t>(first + i)) == TRACK_FORMAT_AUDIO)
        add(first + i, "ISRC", cdio_get_track_isrc(cdio_, static_cast<track_t>(first + i)));
  }
  char* block = new (std::nothrow) char[out.size() + 1];
  if (!block) return CDDA_E_MEMORY;
  std::memcpy(block, out.c_str(), out.size() + 1);
  text->dwSize = static_cast<uint32_t>(out.size());
  text->dwFields = fields;
  text->lpText = block;
  return CDDA_OK;
}

uint32_t Drive::SetSpeed(uint32_t speed) {
  if (speed == 0 || speed > CDDA_SPEED_MAX) return CDDA_E_PARAM;
  uint32_t rc = Ensure();
  if (rc != CDDA_OK) return rc;
  speed_ = speed;
  if (Selected()->image) return CDDA_OK;
  driver_return_code_t r = speed == CDDA_SPEED_MAX ? mmc_set_speed(cdio_, 0xFFFF, 0)
                                                   : cdio_set_speed(cdio_, static_cast<int>(speed));
  // "No limit" is what a drive does anyway when it cannot be told.
  if (r < 0 && speed != CDDA_SPEED_MAX) return CDDA_E_NOTSUPPORTED;
  return CDDA_OK;
}

uint32_t Drive::Lock(bool lock) {
  const DeviceEntry* d = Selected();
  if (!d) return CDDA_E_NODEVICE;
  if (!d->image) {
    uint32_t rc = Ensure();
    if (rc != CDDA_OK) return rc;
    if (mmc_prevent_allow_medium_removal(cdio_, false, lock, 0) != DRIVER_OP_SUCCESS)
      return CDDA_E_TRAY;
  }
  locked_ = lock;
  return CDDA_OK;
}

uint32_t Drive::Load(bool load) {
  const DeviceEntry* d = Selected();
  if (!d) return CDDA_E_NODEVICE;
  if (!load && locked_) return CDDA_E_LOCKED;
  if (copy_ != Copy::none) return CDDA_E_BUSY;
  CloseSource();
  if (d->image) {
    trayOpen_ = !load;
  } else if (load) {
    if (cdio_close_tray(d->path.c_str(), nullptr) != DRIVER_OP_SUCCESS) return CDDA_E_TRAY;
  } else if (cdio_eject_media_drive(d->path.c_str()) != DRIVER_OP_SUCCESS) {
    return CDDA_E_TRAY;
  }
  if (openMode_ >= 0 && load) Ensure();
  return CDDA_OK;
}

uint32_t Drive::Play(uint32_t first, uint32_t count) {
  uint32_t rc = Ready();
  if (rc != CDDA_OK) return rc;
  if (Selected()->image) return CDDA_E_NOTSUPPORTED;
  int32_t leadout = LeadOut();
  if (count == 0 || static_cast<int64_t>(first) + count > leadout) return CDDA_E_RANGE;
  msf_t a, b;
  cdio_lsn_to_msf(static_cast<lsn_t>(first), &a);
  cdio_lsn_to_msf(static_cast<lsn_t>(first + count), &b);
  return cdio_audio_play_msf(cdio_, &a, &b) == DRIVER_OP_SUCCESS ? CDDA_OK : CDDA_E_NOTSUPPORTED;
}

uint32_t Drive::StopAudio() {
  const DeviceEntry* d = Selected();
  if (!d) return CDDA_E_NODEVICE;
  if (d->image) return CDDA_OK;
  uint32_t status = Status();
  if (status != CDDA_STATUS_PLAYING && status != CDDA_STATUS_PAUSED) return CDDA_OK;
  return cdio_audio_stop(cdio_) == DRIVER_OP_SUCCESS ? CDDA_OK : CDDA_E_NOTSUPPORTED;
}

uint32_t Drive::PauseAudio() {
  const DeviceEntry* d = Selected();
  if (!d) return CDDA_E_NODEVICE;
  if (d->image || Status() != CDDA_STATUS_PLAYING) return CDDA_OK;
  return cdio_audio_pause(cdio_) == DRIVER_OP_SUCCESS ? CDDA_OK : CDDA_E_NOTSUPPORTED;
}

uint32_t Drive::ResumeAudio() {
  const DeviceEntry* d = Selected();
  if (!d) return CDDA_E_NODEVICE;
  if (d->image || Status() != CDDA_STATUS_PAUSED) return CDDA_OK;
  return cdio_audio_resume(cdio_) == DRIVER_OP_SUCCESS ? CDDA_OK : CDDA_E_NOTSUPPORTED;
}

uint32_t Drive::ReadSectors(uint8_t* out, int32_t first, uint32_t count) {
  if (image_) return image_->Read(out, first, count) ? CDDA_OK : CDDA_E_READ;
  const bool image = Selected()->image;
  uint32_t chunk = image ? kImageChunk : kDriveChunk;
  while (count > 0) {
    uint32_t n = std::min(count, chunk);
    if (cdio_read_audio_sectors(cdio_, out, first, n) != DRIVER_OP_SUCCESS) return CDDA_E_READ;
    // libcdio's image read succeeds when the file holds only some of the sectors (a file cut
    // short) and leaves the rest of the buffer as it was. The last sector read on its own (a
    // short single read fails) tells whether the file holds them all.
    if (image && n > 1) {
      uint8_t last[CDDA_SECTOR_BYTES];
      const uint8_t* bulk = out + static_cast<size_t>(n - 1) * CDDA_SECTOR_BYTES;
      if (cdio_read_audio_sectors(cdio_, last, first + static_cast<int32_t>(n) - 1, 1) !=
              DRIVER_OP_SUCCESS ||
          std::memcmp(last, bulk, CDDA_SECTOR_BYTES) != 0)
        return CDDA_E_READ;
    }
    out += static_cast<size_t>(n) * CDDA_SECTOR_BYTES;
    first += static_cast<int32_t>(n);
    count -= n;
  }
  return CDDA_OK;
}

uint32_t Drive::Read(void* buffer, uint32_t first, uint32_t count) {
  if (!buffer) return CDDA_E_PARAM;
  uint32_t rc = Ensure();
  if (rc != CDDA_OK) return rc;
  int32_t leadout = LeadOut();
  if (leadout < 0) return CDDA_E_NOTREADY;
  if (static_cast<int64_t>(first) + count > leadout) return CDDA_E_RANGE;
  if (offset_ != 0)
    return ReadOffsetNormal(static_cast<uint8_t*>(buffer), static_cast<int32_t>(first), count);
  if (uint32_t data = CheckAudio(static_cast<int32_t>(first), count)) return data;
  return ReadSectors(static_cast<uint8_t*>(buffer), static_cast<int32_t>(first), count);
}

uint32_t Drive::ReadUntilBad(uint8_t* out, int32_t first, uint32_t count, uint32_t* good) {
  *good = 0;
  for (uint32_t i = 0; i < count; ++i) {
    uint8_t* to = out + static_cast<size_t>(i) * CDDA_SECTOR_BYTES;
    int32_t at = first + static_cast<int32_t>(i);
    if (image_ ? !image_->Read(to, at, 1)
               : cdio_read_audio_sectors(cdio_, to, at, 1) != DRIVER_OP_SUCCESS)
      return CDDA_E_READ;
    ++*good;
  }
  return CDDA_OK;
}

void Drive::EndCopy() {
  if (paranoia_) cdio_paranoia_free(paranoia_);
  if (cdda_) cdio_cddap_close_no_free_cdio(cdda_);
  paranoia_ = nullptr;
  cdda_ = nullptr;
  ahead_.clear();
  ahead_.shrink_to_fit();
  aheadCount_ = 0;
  carrySector_ = -1;
  copy_ = Copy::none;
}

uint32_t Drive::InitCopy(bool sync, uint32_t blocks, uint32_t first, uint32_t count) {
  if (blocks == 0 || blocks > 65535) return CDDA_E_PARAM;
  uint32_t rc = Ensure();
  if (rc != CDDA_OK) return rc;
  int32_t leadout = LeadOut();
  if (leadout < 0) return CDDA_E_NOTREADY;
  if (static_cast<int64_t>(first) + count > leadout) return CDDA_E_RANGE;
  // The disc sectors the copy reads: the range itself, or as far as the offset moves it
  // within the disc.
  int64_t rawFirst = first;
  uint32_t rawCount = count;
  if (offset_ != 0) RawSpan(static_cast<int32_t>(first), count, &rawFirst, &rawCount);
  if (uint32_t data = CheckAudio(static_cast<int32_t>(rawFirst), rawCount)) return data;
  EndCopy();
  retries_ = skipped_ = 0;
  blocks_ = blocks;
  next_ = static_cast<int32_t>(first);
  end_ = static_cast<int32_t>(first + count);
  raw_ = static_cast<int32_t>(rawFirst);
  rawEnd_ = raw_ + static_cast<int32_t>(rawCount);
  // An image read by the library holds exactly the disc's samples: there is no jitter to
  // correct, so a sync copy reads it as a burst copy does (each read checked).
  if (!sync || image_) {
    copy_ = sync ? Copy::sync : Copy::burst;
    aheadFirst_ = raw_;
    return CDDA_OK;
  }
  cdda_ = cdio_cddap_identify_cdio(cdio_, CDDA_MESSAGE_FORGETIT, nullptr);
  if (!cdda_) return CDDA_E_OPEN;
  cdio_cddap_verbose_set(cdda_, CDDA_MESSAGE_FORGETIT, CDDA_MESSAGE_FORGETIT);
  if (cdio_cddap_open(cdda_) != 0) {
    EndCopy();
    return CDDA_E_OPEN;
  }
  // An image holds the disc's little-endian samples; paranoia would otherwise guess the byte
  // order from the audio and may swap a quiet or synthetic track.
  if (Selected()->image) cdda_->bigendianp = 0;
  paranoia_ = cdio_paranoia_init(cdda_);
  if (!paranoia_) {
    EndCopy();
    return CDDA_E_MEMORY;
  }
  cdio_paranoia_modeset(paranoia_, PARANOIA_MODE_FULL ^ PARANOIA_MODE_NEVERSKIP);
  if (rawCount > 0)
    cdio_paranoia_set_range(paranoia_, raw_, raw_ + static_cast<int32_t>(rawCount) - 1);
  cdio_paranoia_seek(paranoia_, raw_, SEEK_SET);
  copy_ = Copy::sync;
  return CDDA_OK;
}

uint32_t Drive::ReadCopy(bool sync, void* buffer) {
  if (copy_ != (sync ? Copy::sync : Copy::burst)) return CDDA_E_NOCOPY;
  if (!buffer) return CDDA_E_PARAM;
  if (next_ >= end_) return CDDA_E_RANGE;
  uint32_t n = std::min<uint32_t>(blocks_, static_cast<uint32_t>(end_ - next_));
  auto* out = static_cast<uint8_t*>(buffer);
  if (offset_ != 0) return ReadShifted(out, n);
  uint32_t rc = ReadRaw(out, n);
  next_ = raw_;
  return rc;
}

// Sync: one sector at a time from paranoia. A sector it skipped (gave up verifying after its
// retries) is an error, never the zeros or unverified samples paranoia fills in.
uint32_t Drive::ReadSync(uint8_t* out, uint32_t n) {
  for (uint32_t i = 0; i < n; ++i) {
    SyncEvents events;
    tSyncEvents = &events;
    int16_t* s = cdio_paranoia_read_limited(paranoia_, CountSyncEvent, kSyncRetries);
    tSyncEvents = nullptr;
    retries_ += events.readErrors;
    if (!s) return CDDA_E_READ;
    if (events.skips > 0) {
      ++skipped_;
      // Paranoia has moved past the sector: start over at it, so that a later call tries it
      // again instead of going on behind the gap.
      cdio_paranoia_seek(paranoia_, raw_, SEEK_SET);
      return CDDA_E_SKIPPED;
    }
    std::memcpy(out + static_cast<size_t>(i) * CDDA_SECTOR_BYTES, s, CDDA_SECTOR_BYTES);
    ++raw_;
  }
  return CDDA_OK;
}

// Burst: served from the read-ahead, refilled with one long sequential read. A read-ahead that
// fails is read again sector by sector up to the bad one.
uint32_t Drive::ReadBurst(uint8_t* out, uint32_t n) {
  uint32_t done = 0;
  while (done < n) {
    int32_t at = raw_;
    if (at < aheadFirst_ || at >= aheadFirst_ + static_cast<int32_t>(aheadCount_)) {
      uint32_t ahead = std::max(blocks_, kDriveAhead);
      uint32_t want = std::min<uint32_t>(ahead, static_cast<uint32_t>(std::max(rawEnd_ - at, 1)));
      ahead_.resize(static_cast<size_t>(want) * CDDA_SECTOR_BYTES);
      aheadCount_ = 0;
      if (ReadSectors(ahead_.data(), at, want) != CDDA_OK) {
        uint32_t good = 0;
        uint32_t rc = ReadUntilBad(ahead_.data(), at, want, &good);
        aheadFirst_ = at;
        aheadCount_ = good;
        if (rc != CDDA_OK && good == 0) {
          ++skipped_;
          return rc;
        }
      } else {
        aheadFirst_ = at;
        aheadCount_ = want;
      }
    }
    uint32_t have = static_cast<uint32_t>(aheadFirst_ + static_cast<int32_t>(aheadCount_) - at);
    uint32_t take = std::min(have, n - done);
    std::memcpy(out + static_cast<size_t>(done) * CDDA_SECTOR_BYTES,
                ahead_.data() + static_cast<size_t>(at - aheadFirst_) * CDDA_SECTOR_BYTES,
                static_cast<size_t>(take) * CDDA_SECTOR_BYTES);
    done += take;
    raw_ += static_cast<int32_t>(take);
  }
  return CDDA_OK;
}

uint32_t Drive::CopyState(CDDA_COPYSTATE* state) {
  if (!state) return CDDA_E_PARAM;
  if (copy_ == Copy::none) return CDDA_E_NOCOPY;
  state->dwNextSector = static_cast<uint32_t>(next_);
  state->dwRetries = retries_;
  state->dwSkipped = skipped_;
  return CDDA_OK;
}

uint32_t Drive::DoneCopy(bool sync) {
  if (copy_ != (sync ? Copy::sync : Copy::burst)) return CDDA_E_NOCOPY;
  EndCopy();
  return CDDA_OK;
}

}  // namespace cdda
