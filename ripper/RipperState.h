#pragma once
// The CD ripper's rules without a window: the window's Boolean state with the transitions its
// commands make, the batch plan, the output kinds, the drive-watch decision and the stored
// wave-format record. The extraction window holds a TRipperFlags (its members keep these
// names) and asks these functions; engine tests check them directly.
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace ripper {

// What happens after a recorded track has ended.
enum class TTrackEnd {
  kSingle,       // a single track (or a stopped batch): back to idle, hand it to the encoder
  kLastOfBatch,  // the batch reached the last row: hand the track over, back to idle
  kNextOfBatch,  // the batch goes on at BatchIndex + 1
};

// The window's state flags. Transitions are named after the commands that make them.
struct TRipperFlags {
  bool Playing = false, Recording = false, BatchMode = false, Paused = false;
  bool Mp3Output = false, EncodeAll = false, ExternalAll = false, ExternalOutput = false;
  bool WaveFormatChosen = false;
  bool DiscLoaded = false;
  int BatchIndex = -1;  // 0-based track index reached by the batch
  int CurrentTrack = 1;

  // Output flags of the record commands ("&Record", "Record selected", the encode commands).
  void SetRecordOne();    // all output flags off, no batch
  void SetRecordAll();    // all output flags off (the batch starts with StartBatch)
  void SetEncodeOne();    // Mp3Output only, no batch
  void SetEncodeAll();    // Mp3Output and EncodeAll
  void SetExternalOne();  // ExternalOutput only; BatchMode unchanged
  void SetExternalAll();  // ExternalAll and ExternalOutput
  // A batch starts from the first row; it ends with all of its flags off.
  void StartBatch();
  void EndBatch();
  // Stop while recording: the batch ends, the track in progress ends as a single track.
  void StopRecording();
  // A recording that failed (a write error, a refused track): everything ends, nothing is
  // handed to an encoder.
  void AbortRecording();
  // The end of a recorded track in a grid of row_count rows (header included). Recording
  // turns false; a single or last track leaves the batch; the next track advances BatchIndex.
  TTrackEnd TrackEnded(int row_count);
};

// The batch plan: the 0-based index of the first selected track at or after `from`; -1 when no
// track from there on is selected.
int NextSelected(const std::vector<bool>& selected, int from);

// Output kinds of the Output menu and the commands "&Record" / "Record selected" run for them.
enum TRipperOutput { kOutWave, kOutBladeEnc, kOutLameEnc, kOutExternal };
enum class TRecordCommand {
  kRecordOne,
  kRecordAll,
  kEncodeOne,
  kEncodeAll,
  kExternalOne,
  kExternalAll
};
struct TOutputBinding {
  const char* label;  // lblOutput's caption
  TRecordCommand record, recordAll;
};
TOutputBinding OutputBinding(TRipperOutput kind);

// Drive status values of the reader (0 not ready, 5 door open).
inline constexpr int kDriveNotReady = 0, kDriveDoorOpen = 5;
// The drive watch: whether a status change reloads the disc. A disc that stays in the drive
// (changes among stopped, playing, paused) is not reloaded once loaded, so its unsaved names
// stay; a disc that goes or comes always is.
bool ShouldReloadDisc(bool disc_loaded, int old_status, int new_status);

// The stored wave-format record ("QuillonTrackwell.bin", at most 1025 bytes read): the record
// the converter may be given, or nothing when the bytes are no usable record (shorter than the
// 16-byte base, extra bytes claimed beyond the file, no channels, no rate, no block
// alignment, implausible sizes). A PCM record is cut to its 18 bytes with no extra bytes; a
// record shorter than 18 bytes is completed with zeros.
std::optional<std::vector<std::uint8_t>> ParseStoredWaveFormat(std::string_view bytes);
// Empty bytes: the format chooser is shown instead (not an error).
inline bool IsEmptyWaveFormatFile(std::string_view bytes) {
  return bytes.empty();
}

}  // namespace ripper
