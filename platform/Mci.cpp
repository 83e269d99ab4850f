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
    std::string item = opts.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
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
  set("input-default-bindings", "yes");
  set("input-vo-keyboard", "yes");
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
  if (ev->event_id == MPV_EVENT_START_FILE || ev->event_id == MPV_EVENT_FILE_LOADED) {
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
    if (ev->event_id == MPV_EVENT_NONE) return;
    HandleEvent(ev);
  }
}

void TMediaPlayer::SetPause(bool pause) {
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
  EnsureHandle();
  DrainEvents();
  SetPause(true);
  const char* cmd[] = {"loadfile", FileName.c_str(), "replace", nullptr};
  if (int rc = mpv_command(mpv_, cmd); rc < 0)
    throw EMCIDeviceError(std::string("The file cannot be played: ") + mpv_error_string(rc));
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
  for (;;) {
    double left = std::chrono::duration<double>(deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) {
      const char* stop[] = {"stop", nullptr};
      mpv_command(mpv_, stop);
      throw EMCIDeviceError("The device timed out opening " + FileName);
    }
    mpv_event* ev = mpv_wait_event(mpv_, left);
    HandleEvent(ev);
    if (ev->event_id == MPV_EVENT_FILE_LOADED) break;
    if (ev->event_id == MPV_EVENT_END_FILE) {
      auto* end = static_cast<mpv_event_end_file*>(ev->data);
      if (end->reason == MPV_END_FILE_REASON_ERROR)
        throw EMCIDeviceError(
            "The specified file cannot be played on the specified MCI device. The file may be "
            "corrupt, or not in the correct format: " +
            std::string(mpv_error_string(end->error)));
    }
  }
  state_ = State::kStopped;
  Notified();
}

void TMediaPlayer::Close() {
  if (state_ == State::kClosed) return;
  const char* cmd[] = {"stop", nullptr};
  mpv_command(mpv_, cmd);
  DrainEvents();
  state_ = State::kClosed;
  Notified();
}

void TMediaPlayer::Play() {
  RequireOpen();
  DrainEvents();
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

TMPModes TMediaPlayer::Mode() {
  if (state_ == State::kClosed) return mpNotReady;
  DrainEvents();
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
  if (state_ == State::kClosed) return 0;
  double t = 0;
  mpv_get_property(mpv_, "time-pos", MPV_FORMAT_DOUBLE, &t);
  return static_cast<long long>(t * 1000);
}

long long TMediaPlayer::Length() {
  if (state_ == State::kClosed) return 0;
  double t = 0;
  mpv_get_property(mpv_, "duration", MPV_FORMAT_DOUBLE, &t);
  return static_cast<long long>(t * 1000);
}
