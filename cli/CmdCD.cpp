// trackwell devices | toc | rip | play: the CD reader's drives, the table of contents, the
// recording chain (FCDReader -> ACMConverter -> Trigger -> WaveFile or MP3Encoder) and the
// playback chain (FCDReader -> RingBuffer -> stages -> FWaveOut -> Connector). Output is
// tab-separated.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <memory>
#include <sstream>

#include "AudioTap.h"
#include "CDImages.h"
#include "Chains.h"
#include "CmdRipAll.h"
#include "Commands.h"
#include "Console.h"
#include "MMACMBind.h"
#include "MMACMCvt.h"
#include "MMCDRead.h"
#include "MMConnect.h"
#include "MMEqualiz.h"
#include "MMMetronome.h"
#include "MMPitch.h"
#include "MMRingBf.h"
#include "MMTrigg.h"
#include "MMVolume.h"
#include "MMWavOut.h"
#include "MMWaveFile.h"
#include "PollDispatcher.h"
#include "RipMp3.h"
#include "ScriptedUi.h"
#include "WaveOut.h"

namespace trackwell {
namespace {

bool ParseNumber(const std::string& s, double& v) {
  std::istringstream in(s);
  in >> v;
  return in && in.peek() == EOF && std::isfinite(v);
}

std::string MSF(std::uint32_t frames) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02u:%02u:%02u", frames / 4500, (frames / 75) % 60, frames % 75);
  return buf;
}

// ---- devices ----

int RunDevices(const std::vector<std::string>& args) {
  if (!args.empty()) return UsageError(*FindCommand("devices"), "no arguments expected");
  Session s;
  TMMCDReader reader;
  for (int i = 0; i < reader.NumDevices(); ++i)
    std::printf("%d\t%s\t%s\n", i, reader.DriveLetter(i).c_str(), reader.DeviceName(i).c_str());
  return 0;
}

// The arguments of a command that takes only [--device N]: 0, or the usage error's exit code.
int ParseDeviceOnly(const TCommand& cmd, const std::vector<std::string>& args, int& device) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--device" && i + 1 < args.size() && ParseInt(args[i + 1], 0, 1000, device))
      ++i;
    else
      return UsageError(cmd, "unexpected argument '" + args[i] + "'");
  }
  return 0;
}

// ---- toc ----

int RunToc(const std::vector<std::string>& args) {
  const TCommand& cmd = *FindCommand("toc");
  int device = -1;
  if (int rc = ParseDeviceOnly(cmd, args, device)) return rc;
  Session s;
  TMMCDReader reader;
  SelectDevice(reader, device);
  ReadTOCOrFail(reader);
  std::uint32_t leadout = 0;
  for (int i = 0; i < reader.GetTrackCount(); ++i) {
    TMMCDTrackInfo t = reader.GetTrack(i);
    std::printf("%d\t%d\t%d\t%s\t%s\n", t.Number, t.Start, t.Length, MSF(t.Start).c_str(),
                MSF(t.Length).c_str());
    leadout = static_cast<std::uint32_t>(t.Start + t.Length);
  }
  std::printf("leadout\t%u\n", leadout);
  std::printf("DiscKey\t%x\n", reader.DiscKey());
  return 0;
}

// ---- cdtext ----

int RunCdText(const std::vector<std::string>& args) {
  const TCommand& cmd = *FindCommand("cdtext");
  int device = -1;
  if (int rc = ParseDeviceOnly(cmd, args, device)) return rc;
  Session s;
  TMMCDReader reader;
  SelectDevice(reader, device);
  ReadTOCOrFail(reader);
  std::fputs(reader.CDText().c_str(), stdout);
  return 0;
}

// ---- rip and play share the track options ----

struct TrackOptions {
  int track = -1, device = -1;
  int offset = 0;  // read offset correction in samples
  TMMCDCopyMode mode = cmNormal;
  bool trimFirst = false, trimLast = false;
};

// Takes the option at args[i] when it is one of the track options; returns 1 taken, 0 not
// one of them, -1 a usage error (message set).
int TrackOption(const std::vector<std::string>& args, std::size_t& i, TrackOptions& o,
                std::string& error) {
  const std::string& a = args[i];
  auto next = [&]() -> const std::string* { return i + 1 < args.size() ? &args[++i] : nullptr; };
  if (a == "--track") {
    const std::string* v = next();
    if (!v || !ParseInt(*v, 0, 99, o.track))
      return error = "--track needs a number 1-99 (0: the hidden track before track 1)", -1;
  } else if (a == "--offset") {
    const std::string* v = next();
    if (!v || !ParseInt(*v, -CDDA_MAX_OFFSET, CDDA_MAX_OFFSET, o.offset))
      return error = "--offset needs a number of samples", -1;
  } else if (a == "--device") {
    const std::string* v = next();
    if (!v || !ParseInt(*v, 0, 1000, o.device)) return error = "--device needs an index", -1;
  } else if (a == "--mode") {
    const std::string* v = next();
    if (v && *v == "normal")
      o.mode = cmNormal;
    else if (v && *v == "burst")
      o.mode = cmBurst;
    else if (v && *v == "sync")
      o.mode = cmSync;
    else
      return error = "--mode is normal, burst or sync", -1;
  } else if (a == "--trim-first") {
    o.trimFirst = true;
  } else if (a == "--trim-last") {
    o.trimLast = true;
  } else {
    return 0;
  }
  return 1;
}

// Selects the device, reads the table of contents and sets the track's range.
void PrepareTrack(TMMCDReader& reader, const TrackOptions& o) {
  SelectDevice(reader, o.device);
  ReadTOCOrFail(reader);
  reader.SetReadOffset(o.offset);
  reader.SetCopyMode(o.mode);
  if (o.track == 0) {
    std::uint32_t start = 0, length = 0;
    if (!reader.HiddenTrackRange(start, length))
      throw EMMCDDAError("no hidden track before track 1 on the disc");
    TrimTrackRange(start, length, o.trimFirst, o.trimLast);
    reader.SetRange(start, length);
    return;
  }
  int index = -1;
  for (int i = 0; i < reader.GetTrackCount(); ++i)
    if (reader.GetTrack(i).Number == o.track) index = i;
  if (index < 0)
    throw EMMCDDAError("no track " + std::to_string(o.track) + " on the disc (" +
                       std::to_string(reader.GetTrackCount()) + " tracks)");
  std::uint32_t start = reader.TrackList().Tracks[index].dwStartMSF;
  std::uint32_t length = reader.TrackList().Tracks[index].dwLengthMSF;
  TrimTrackRange(start, length, o.trimFirst, o.trimLast);
  reader.SetRange(start, length);
}

// ---- rip ----

// The test read of test and copy: the reader's range read through to nowhere. Returns its
// CRC-32; a range that cannot be read whole leaves the reason in s.failure.
std::uint32_t TestRead(Session& s, TMMCDReader& reader) {
  const std::int64_t expected =
      static_cast<std::int64_t>(reader.EndSector() - reader.FirstSector()) * kCDSectorBytes;
  ripper::TAudioTap tap;
  TMMTrigger trigger;
  TMMDSPComponent nowhere;
  ripper::InitTrigger(trigger);
  tap.SetInput(&reader);
  trigger.SetInput(&tap);
  nowhere.SetInput(&trigger);
  trigger.OnStop = [&](TMMDSPComponent*) {
    if (s.failure.empty()) s.failure = reader.FailureText();
    if (s.failure.empty() && tap.Bytes() != expected)
      s.failure = "the track ends early: " + std::to_string(tap.Bytes()) + " of " +
                  std::to_string(expected) + " bytes read";
    s.loop.Quit();
  };
  trigger.Start();
  s.loop.Run();
  trigger.Close();
  trigger.SetOutput(nullptr);
  trigger.SetInput(nullptr);
  tap.SetInput(nullptr);
  return tap.Crc();
}

int RunRip(const std::vector<std::string>& args) {
  if (IsRipAll(args)) return RunRipAll(args);
  const TCommand& cmd = *FindCommand("rip");
  TrackOptions o;
  Mp3Options mp3;
  std::string out, error;
  WfxPtr format;
  bool highQuality = false, testAndCopy = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    int r = TrackOption(args, i, o, error);
    if (r == 0) r = Mp3Option(args, i, mp3, error);
    if (r < 0) return UsageError(cmd, error);
    if (r > 0) continue;
    if (args[i] == "-o" && i + 1 < args.size()) {
      out = args[++i];
    } else if (args[i] == "--format" && i + 1 < args.size()) {
      if (!ACMApi().Usable()) throw EMMConverterError("no usable compression manager");
      format = ParseWaveFormat(args[++i]);
      if (!format) return UsageError(cmd, "--format: no wave format '" + args[i] + "'");
    } else if (args[i] == "--hq") {
      highQuality = true;
    } else if (args[i] == "--test-and-copy") {
      testAndCopy = true;
    } else
      return UsageError(cmd, "unexpected argument '" + args[i] + "'");
  }
  if (o.track < 0) return UsageError(cmd, "--track is needed");
  if (out.empty()) return UsageError(cmd, "-o OUT.wav is needed");
  if (!CheckMp3Options(mp3, error)) return UsageError(cmd, error);

  Session s;
  TMMCDReader reader;
  PrepareTrack(reader, o);
  std::uint32_t testCrc = 0;
  if (testAndCopy) {
    testCrc = TestRead(s, reader);
    if (!s.failure.empty()) {
      std::fprintf(stderr, "trackwell rip: %s\n", s.failure.c_str());
      return 1;
    }
  }
  // The copy's CRC-32, to compare with the test read's.
  ripper::TAudioTap copyTap;
  if (testAndCopy) copyTap.SetInput(&reader);
  TMMDSPComponent& source = testAndCopy ? static_cast<TMMDSPComponent&>(copyTap) : reader;
  // Without --format the converter passes the CD audio through unchanged.
  TMMACMConverter acmConverter;
  acmConverter.Name = "ACMConverter";
  acmConverter.SetEnabled(format != nullptr);
  acmConverter.SetQuality(highQuality ? cqHigh : cqLow);
  if (format) acmConverter.SetWaveFormat(format.get());
  TMMTrigger trigger;
  // With --mp3 the chain ends in the encoder instead of the wave file.
  std::unique_ptr<TMMMP3Encoder> encoder = mp3.on ? MakeMp3Encoder(mp3, out) : nullptr;
  TMMWaveFile sink;
  sink.Wave()->FileMustExist = false;
  if (!encoder) sink.Wave()->SetFileName(out);
  ripper::InitTrigger(trigger);
  if (encoder)
    ripper::LinkRecording(source, acmConverter, trigger, *encoder);
  else
    ripper::LinkRecording(source, acmConverter, trigger, sink);
  bool closedEarly = false;
  sink.OnClose = [&](TMMDSPComponent*) {
    if (trigger.State() & TMMTrigger::stPlaying) closedEarly = true;
  };
  auto discard = [&] {
    if (encoder)
      encoder->DiscardOnClose();
    else
      sink.DiscardOnClose();
  };
  // A failure on the trigger's thread closes the chain: the unfinished file goes.
  trigger.OnError = [&](TMMDSPComponent*) { discard(); };
  trigger.OnStop = [&](TMMDSPComponent*) {
    // The encoder closes itself when the disk is full or a write fails.
    if (encoder && !encoder->FileOpened()) closedEarly = true;
    // A sector the reader could not read ends its range early (or fails the start): the track
    // failed, and nothing of it takes the output's name.
    if (s.failure.empty()) s.failure = reader.FailureText();
    if (!s.failure.empty()) discard();
    s.loop.Quit();
  };
  trigger.Start();
  s.loop.Run();
  // A failure anywhere in the chain: the output is not kept (an earlier file stays).
  if (!s.failure.empty()) discard();
  // A compressed wave says how many frames it holds, not what its padded last block suggests.
  if (!encoder && acmConverter.FramesEncoded() >= 0)
    sink.Wave()->SetSampleLength(acmConverter.FramesEncoded());
  trigger.Close();
  if (!s.failure.empty()) {
    std::fprintf(stderr, "trackwell rip: %s\n", s.failure.c_str());
    return 1;
  }
  // The file components' own failure (a write, the final flush or rename): the file is gone.
  const std::string& why = encoder ? encoder->FailureText() : sink.FailureText();
  if (!why.empty() || closedEarly) {
    std::fprintf(stderr, "trackwell rip: %s\n",
                 why.empty() ? (out + ": the file ends early").c_str() : why.c_str());
    return 1;
  }
  if (testAndCopy) {
    // The copy is kept; two reads that differ fail the command all the same.
    const bool same = copyTap.Crc() == testCrc;
    std::fprintf(stderr, "trackwell rip: track %d: test CRC %08x, copy CRC %08x: %s\n", o.track,
                 testCrc, copyTap.Crc(),
                 same ? "the reads match" : "THE READS DIFFER, rip it again");
    if (!same) return 1;
  }
  return 0;
}

// ---- play ----

int RunPlay(const std::vector<std::string>& args) {
  const TCommand& cmd = *FindCommand("play");
  TrackOptions o;
  std::string error, alsaDevice;
  bool memoryDevice = false;
  bool eq = false, pitchOn = false, volumeOn = false, halfSpeed = false;
  std::vector<float> gains;
  float pitchValue = 0;
  int volumeValue = 16384;
  for (std::size_t i = 0; i < args.size(); ++i) {
    int r = TrackOption(args, i, o, error);
    if (r < 0) return UsageError(cmd, error);
    if (r > 0) continue;
    const std::string& a = args[i];
    double v;
    if (a == "--eq" && i + 1 < args.size()) {
      std::stringstream list(args[++i]);
      std::string item;
      while (std::getline(list, item, ',')) {
        if (!ParseNumber(item, v)) return UsageError(cmd, "bad equalizer gain '" + item + "'");
        gains.push_back(static_cast<float>(v));
      }
      if (gains.size() != 12) return UsageError(cmd, "--eq needs twelve gains in dB");
      eq = true;
    } else if (a == "--pitch") {
      // Refused, not clamped: a script's wrong value is a wrong command line.
      if (i + 1 >= args.size() || !ParseNumber(args[++i], v) || v < -50 || v > 50)
        return UsageError(cmd, "--pitch needs a number from -50 to 50");
      pitchOn = true;
      pitchValue = static_cast<float>(v);
    } else if (a == "--volume") {
      if (i + 1 >= args.size() || !ParseNumber(args[++i], v) || v < 0 || v > 1e9 ||
          v != std::floor(v))
        return UsageError(cmd, "--volume needs a whole number (16384 = unchanged)");
      volumeOn = true;
      volumeValue = static_cast<int>(v);
    } else if (a == "--half-speed") {
      halfSpeed = true;
    } else if (a == "--alsa-device" && i + 1 < args.size()) {
      alsaDevice = args[++i];
    } else if (a == "--memory-device") {
      memoryDevice = true;
    } else {
      return UsageError(cmd, "unexpected argument '" + a + "'");
    }
  }
  if (o.track < 0) return UsageError(cmd, "--track is needed");

  Session s;
  TMMCDReader reader;
  PrepareTrack(reader, o);
  TMMRingBuffer ring;
  TMMPitch pitch, slowDown;
  TMMVolume volume;
  TMMMetronome metronome;
  TMMEqualizer equalizer;
  TMMConnector connector;
  // The device list is read when the component is made: an added device comes first.
  int alsaId = alsaDevice.empty() ? -3 : static_cast<int>(ql::AddAlsaDevice(alsaDevice));
  if (memoryDevice) {
    // Plays at the audio's own pace into memory: playback as on a sound card, for measurements
    // on machines that have none.
    ql::MemoryDeviceOptions mo;
    mo.realTime = true;
    mo.bufferMs = 200;
    alsaId = static_cast<int>(ql::AddMemoryDevice(mo));
  }
  auto waveOutPtr = std::make_unique<TMMWaveOut>();
  TMMWaveOut& waveOut = *waveOutPtr;
  if (alsaId != -3) waveOut.SetDeviceID(alsaId);
  // The window's playback chain with its settings.
  ripper::InitPlayback(ring, waveOut, connector);
  ripper::TStages stages;
  if (pitchOn) stages.pitch = &pitch;
  if (volumeOn) stages.volume = &volume;
  if (halfSpeed) {
    stages.metronome = &metronome;
    stages.slowDown = &slowDown;
  }
  if (eq) stages.equalizer = &equalizer;
  ripper::InitStages(stages);
  pitch.SetPitch(pitchValue);
  volume.SetVolume(volumeValue);
  if (eq)
    for (int i = 0; i < 12; ++i) equalizer.Filters()->Items(i)->SetGain(gains[i]);
  ripper::LinkPlayback(reader, ring, stages, waveOut);
  waveOut.OnStop = [&](TMMDSPComponent*) { s.loop.Quit(); };
  waveOut.Start();
  s.loop.Run();
  std::int64_t played = waveOut.PlayedBytes();
  waveOut.Close();
  waveOutPtr.reset();
  if (!s.failure.empty()) {
    std::fprintf(stderr, "trackwell play: %s\n", s.failure.c_str());
    return 1;
  }
  std::printf("played\t%lld\n", static_cast<long long>(played));
  return 0;
}

const TCommandRegistration regDevices({"devices", "", "list the CD drives and images", RunDevices});
const TCommandRegistration regCdText(
    {"cdtext", "[--device N]",
     "print the disc's text: lines TRACK<TAB>FIELD<TAB>VALUE, track 0 the disc (TITLE, PERFORMER, "
     "SONGWRITER, ..., ISRC, UPC_EAN the catalogue number)",
     RunCdText});
const TCommandRegistration regToc({"toc", "[--device N]",
                                   "print the table of contents and the DiscKey", RunToc});
const TCommandRegistration regRip(
    {"rip",
     "--track N -o OUT.wav [--device N] [--mode normal|burst|sync] [--offset N] [--trim-first] "
     "[--trim-last] "
     "[--format TAG,RATE,BITS,CHANNELS [--hq]] [--test-and-copy] " +
         std::string(kMp3Usage) + "\n       trackwell rip " + kRipAllUsage,
     "extract a track to a wave file (--format: in that wave format, e.g. 1,22050,8,1 or "
     "17,22050,4,1; BITS 0 for the codec's own; --hq: the best conversion, whatever it costs), "
     "or to an MP3 file with --mp3 (track 0: the hidden track before track 1; --test-and-copy: "
     "read the track twice, the first time only for "
     "its CRC-32, and fail when the two reads differ); or extract several tracks (--all, or "
     "--tracks like 1,3-5) "
     "into DIR, named as the extraction window names them, from its disc store or a CDDB "
     "server (--cddb); --encoder runs an external encoder on each wave ($1 the wave, $2 the "
     "output), --jobs N encodes on N workers while reading goes on; progress on stderr, "
     "--json prints a summary of every track on stdout",
     RunRip});
const TCommandRegistration regPlay(
    {"play",
     "--track N [--device N] [--mode normal|burst|sync] [--offset N] [--trim-first] [--trim-last] "
     "[--eq g0,...,g11] [--pitch P] [--volume V] [--half-speed] [--alsa-device NAME | "
     "--memory-device]",
     "play a track through the playback chain", RunPlay});

}  // namespace
}  // namespace trackwell
