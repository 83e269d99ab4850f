#include "Mci.h"

#include <mpv/client.h>
#include <sys/stat.h>

#include <chrono>
#include <clocale>
#include <cstdlib>

namespace {

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

}  // namespace

MciSettings MciSettings::FromEnvironment() {
  MciSettings s;
  s.ao = Env("QL_MPV_AO");
  s.vo = Env("QL_MPV_VO");
  std::string opts = Env("QL_MPV_OPTIONS");
  size_t pos = 0;
  while (pos < opts.size()) {
    size_t comma = opts.find(',', pos);
    std::string item =
        opts.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
    size_t eq = item.find('=');
    if (eq != std::string::npos) s.options.emplace_back(item.substr(0, eq), item.substr(eq + 1));
    if (comma == std::string::npos) break;
    pos = comma + 1;
  }
  return s;
}

TMediaPlayer::TMediaPlayer(MciSettings settings) : settings_(std::move(settings)) {}

TMediaPlayer::~TMediaPlayer() {
  if (mpv_) mpv_terminate_destroy(mpv_);
}

void TMediaPlayer::EnsureHandle() {
  if (mpv_) return;
  // mpv refuses to start under a locale whose numbers are not written the C way.
  std::setlocale(LC_NUMERIC, "C");
  mpv_ = mpv_create();
  if (!mpv_) throw EMCIDeviceError("The media device could not be created");
  auto set = [this](const char* name, const std::string& value) {
    mpv_set_option_string(mpv_, name, value.c_str());
  };
  set("idle", "yes");
  set("keep-open", "yes");
  set("pause", "yes");
  set("terminal", "no");
  set("audio-display", "no");
  set("audio-fallback-to-null", "yes");
  // The player alone commands the device: no key or mouse binding of mpv may stop, seek or
  // shut it down behind the player's back, and its video window shows no controls.
  set("input-default-bindings", "no");
  set("input-builtin-bindings", "no");
  set("input-vo-keyboard", "no");
  set("input-cursor", "no");
  set("input-terminal", "no");
  set("osc", "no");
  set("osd-level", "0");
  set("force-window", "no");
  if (!settings_.ao.empty()) set("ao", settings_.ao);
  if (!settings_.vo.empty()) set("vo", settings_.vo);
  for (const auto& [name, value] : settings_.options) set(name.c_str(), value);
  if (mpv_initialize(mpv_) < 0) {
    mpv_terminate_destroy(mpv_);
    mpv_ = nullptr;
    throw EMCIDeviceError("The media device could not be initialised");
  }
  // The end of a file is followed through the event queue, which orders it with the loading
  // of the next file: polling the property could still see the end of the previous one.
  mpv_observe_property(mpv_, 1, "eof-reached", MPV_FORMAT_FLAG);
}

void TMediaPlayer::HandleEvent(const mpv_event* ev) {
  if (ev->event_id == MPV_EVENT_SHUTDOWN) {
    shutdown_ = true;
  } else if (ev->event_id == MPV_EVENT_END_FILE && loading_ &&
             static_cast<mpv_event_end_file*>(ev->data)->reason == MPV_END_FILE_REASON_ERROR) {
    // A load that had not finished when Open returned failed afterwards: the device stops,
    // and Play reports the failure.
    loading_ = false;
    eof_ = true;
    load_failed_ = true;
  } else if (ev->event_id == MPV_EVENT_FILE_LOADED) {
    loading_ = false;
    eof_ = false;
  } else if (ev->event_id == MPV_EVENT_START_FILE || ev->event_id == MPV_EVENT_FILE_LOADED) {
    eof_ = false;
  } else if (ev->event_id == MPV_EVENT_PROPERTY_CHANGE && ev->reply_userdata == 1) {
    auto* prop = static_cast<mpv_event_property*>(ev->data);
    eof_ = prop->format == MPV_FORMAT_FLAG && *static_cast<int*>(prop->data) != 0;
  }
}

void TMediaPlayer::DrainEvents() {
  if (!mpv_) return;
  for (;;) {
    mpv_event* ev = mpv_wait_event(mpv_, 0);
    if (ev->event_id == MPV_EVENT_NONE) break;
    HandleEvent(ev);
  }
  if (shutdown_) Lose();
}

void TMediaPlayer::Lose() {
  // mpv has shut down (its window was closed, or it failed): the handle is spent. The file
  // counts as stopped; the next Open creates a new handle.
  mpv_terminate_destroy(mpv_);
  mpv_ = nullptr;
  shutdown_ = false;
  loading_ = false;
  lost_ = true;
  if (state_ != State::kClosed) {
    state_ = State::kStopped;
    eof_ = false;
  }
}

bool TMediaPlayer::TakeLost() {
  DrainEvents();
  bool lost = lost_;
  lost_ = false;
  return lost;
}

int TMediaPlayer::Command(const std::vector<std::string>& args) {
  EnsureHandle();
  std::vector<const char*> argv;
  for (const auto& a : args) argv.push_back(a.c_str());
  argv.push_back(nullptr);
  return mpv_command(mpv_, argv.data());
}

void TMediaPlayer::SetPause(bool pause) {
  if (!mpv_) return;
  int flag = pause ? 1 : 0;
  mpv_set_property(mpv_, "pause", MPV_FORMAT_FLAG, &flag);
}

void TMediaPlayer::Notified() {
  if (!Notify) return;
  Notify = false;
  if (OnNotify) OnNotify(this);
}

void TMediaPlayer::RequireOpen() const {
  if (state_ == State::kClosed) throw EMCIDeviceError("No MCI device open");
}

void TMediaPlayer::Open() {
  if (state_ != State::kClosed) Close();
  struct stat st;
  if (FileName.empty() || stat(FileName.c_str(), &st) != 0 || S_ISDIR(st.st_mode))
    throw EMCIDeviceError(
        "Cannot find the specified file. Make sure the path and filename are correct.");
  // A FIFO, a socket or a device would block the loader (and with it the window) for as long
  // as nothing writes to it: only plain files are played.
  if (!S_ISREG(st.st_mode))
    throw EMCIDeviceError(
        "The specified file cannot be played on the specified MCI device. The file may be "
        "corrupt, or not in the correct format: " +
        FileName + " is not a regular file");
  EnsureHandle();
  DrainEvents();
  if (!mpv_) EnsureHandle();  // the handle had shut down: a new one
  lost_ = false;              // a new file: a shutdown under the old one is no longer news
  load_failed_ = false;
  SetPause(true);
  const char* cmd[] = {"loadfile", FileName.c_str(), "replace", nullptr};
  if (int rc = mpv_command(mpv_, cmd); rc < 0)
    throw EMCIDeviceError(std::string("The file cannot be played: ") + mpv_error_string(rc));
  // Most files are loaded in a few milliseconds, and a file that cannot be played is reported
  // here. A load that takes longer (a slow disk or file system) goes on in the background: the
  // window is not held up, Play starts the file once it is loaded, and a failure then stops
  // the device (Mode reports it stopped).
  loading_ = true;
  auto deadline = std::chrono::steady_clock::now() + settings_.open_wait;
  for (;;) {
    double left =
        std::chrono::duration<double>(deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) break;
    mpv_event* ev = mpv_wait_event(mpv_, left);
    if (ev->event_id == MPV_EVENT_END_FILE) {
      auto* end = static_cast<mpv_event_end_file*>(ev->data);
      if (end->reason == MPV_END_FILE_REASON_ERROR) {
        loading_ = false;
        throw EMCIDeviceError(
            "The specified file cannot be played on the specified MCI device. The file may be "
            "corrupt, or not in the correct format: " +
            std::string(mpv_error_string(end->error)));
      }
      // The end of the file this load replaced.
      continue;
    }
    HandleEvent(ev);
    if (ev->event_id == MPV_EVENT_FILE_LOADED) break;
    if (shutdown_) {
      Lose();
      lost_ = false;
      throw EMCIDeviceError("The media device shut down while opening " + FileName);
    }
  }
  state_ = State::kStopped;
  Notified();
}

void TMediaPlayer::Close() {
  if (state_ == State::kClosed) return;
  DrainEvents();
  if (mpv_) {
    const char* cmd[] = {"stop", nullptr};
    mpv_command(mpv_, cmd);
    loading_ = false;
    DrainEvents();
  }
  state_ = State::kClosed;
  Notified();
}

void TMediaPlayer::Play() {
  RequireOpen();
  DrainEvents();
  if (!mpv_) Reload();
  if (load_failed_)
    throw EMCIDeviceError(
        "The specified file cannot be played on the specified MCI device. The file may be "
        "corrupt, or not in the correct format.");
  if (eof_) {
    const char* cmd[] = {"seek", "0", "absolute", nullptr};
    mpv_command(mpv_, cmd);
    eof_ = false;
  }
  SetPause(false);
  state_ = State::kPlaying;
}

void TMediaPlayer::Pause() {
  RequireOpen();
  TMPModes mode = Mode();
  if (mode == mpPlaying) {
    SetPause(true);
    state_ = State::kPaused;
    Notified();
  } else if (mode == mpPaused) {
    Resume();
  }
}

void TMediaPlayer::Resume() {
  RequireOpen();
  if (state_ != State::kPaused) {
    Play();
    return;
  }
  SetPause(false);
  state_ = State::kPlaying;
}

void TMediaPlayer::Stop() {
  RequireOpen();
  SetPause(true);
  state_ = State::kStopped;
  Notified();
}

void TMediaPlayer::Reload() {
  // mpv shut down under an open file: open the file again on a new handle, stopped.
  state_ = State::kClosed;
  Open();
}

TMPModes TMediaPlayer::Mode() {
  DrainEvents();
  if (state_ == State::kClosed) return mpNotReady;
  if (state_ == State::kPlaying && eof_) {
    state_ = State::kStopped;
    Notified();
  }
  switch (state_) {
    case State::kStopped:
      return mpStopped;
    case State::kPaused:
      return mpPaused;
    default:
      return mpPlaying;
  }
}

long long TMediaPlayer::Position() {
  if (state_ == State::kClosed || !mpv_) return 0;
  double t = 0;
  mpv_get_property(mpv_, "time-pos", MPV_FORMAT_DOUBLE, &t);
  return static_cast<long long>(t * 1000);
}

long long TMediaPlayer::Length() {
  if (state_ == State::kClosed || !mpv_) return 0;
  double t = 0;
  mpv_get_property(mpv_, "duration", MPV_FORMAT_DOUBLE, &t);
  return static_cast<long long>(t * 1000);
}
