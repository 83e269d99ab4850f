#pragma once
// The media control device: one media file at a time, opened by name with the playing back end
// chosen from the file, played, paused, resumed, stopped and closed, with the mode as the
// seven values the player tests. Built on libmpv; video plays in mpv's own window.
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "Exception.h"

struct mpv_handle;
struct mpv_event;

class EMCIDeviceError : public Exception {
 public:
  using Exception::Exception;
};

// Mode values: the device's mode number minus 524.
enum TMPModes : int {
  mpNotReady = 0,
  mpStopped = 1,
  mpPlaying = 2,
  mpRecording = 3,
  mpSeeking = 4,
  mpPaused = 5,
  mpOpen = 6,
};

// Back-end settings. ao and vo are mpv's outputs ("" for its defaults); options are further
// mpv options. FromEnvironment reads $QL_MPV_AO, $QL_MPV_VO and $QL_MPV_OPTIONS
// ("name=value,name=value").
struct MciSettings {
  std::string ao;
  std::string vo;
  std::vector<std::pair<std::string, std::string>> options;
  // How long Open waits for a file to load before it lets the load go on in the background.
  std::chrono::milliseconds open_wait{1500};
  static MciSettings FromEnvironment();
};

class TMediaPlayer {
 public:
  explicit TMediaPlayer(MciSettings settings = MciSettings::FromEnvironment());
  ~TMediaPlayer();
  TMediaPlayer(const TMediaPlayer&) = delete;
  TMediaPlayer& operator=(const TMediaPlayer&) = delete;

  // Opens the device on FileName, closing a device still open first. Throws EMCIDeviceError
  // with the device's text when the file cannot be opened.
  void Open();
  void Close();
  // These need an open device: "No MCI device open" otherwise.
  void Play();
  // Pauses a playing device, resumes a paused one, does nothing in other modes.
  void Pause();
  // Resumes a paused device; plays when it cannot resume.
  void Resume();
  void Stop();
  TMPModes Mode();
  // The next command carries the notify flag: OnNotify fires when it completes.
  void NotifyNext() { Notify = true; }
  // Position and length in milliseconds (0 when closed).
  long long Position();
  long long Length();
  // True once after mpv shut down by itself (its video window was closed): the open file
  // counts as stopped, and the next Open or Play starts a new mpv.
  bool TakeLost();
  // Runs an mpv command on the device's handle (tests press keys and shut mpv down with it);
  // mpv's result code.
  int Command(const std::vector<std::string>& args);

  std::string FileName;
  bool AutoRewind = false;
  bool Shareable = false;
  bool Notify = false;
  std::function<void(TMediaPlayer*)> OnNotify;

 private:
  enum class State { kClosed, kStopped, kPlaying, kPaused };
  void RequireOpen() const;
  void EnsureHandle();
  void DrainEvents();
  void HandleEvent(const mpv_event* ev);
  void SetPause(bool pause);
  void Notified();
  void Lose();
  void Reload();

  MciSettings settings_;
  mpv_handle* mpv_ = nullptr;
  State state_ = State::kClosed;
  bool eof_ = false;
  bool loading_ = false;      // Open returned before the file was loaded
  bool load_failed_ = false;  // ... and the load failed afterwards
  bool shutdown_ = false;  // mpv reported its shutdown; the handle is destroyed at the next drain
  bool lost_ = false;      // for TakeLost
};
