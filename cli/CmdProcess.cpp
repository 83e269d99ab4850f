// trackwell process IN.wav OUT.wav [options]: runs a wave file through the DSP stages of the
// playback chain, in its order: pitch, volume, time stretch + slow-down, equalizer. The chain is
// TMMWaveFile (source) -> stages -> TMMTrigger -> TMMWaveFile (sink).
#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>

#include "Chains.h"
#include "Commands.h"
#include "MMEqualiz.h"
#include "MMMetronome.h"
#include "MMPitch.h"
#include "MMTrigg.h"
#include "MMVolume.h"
#include "MMWave.h"
#include "MMWaveFile.h"
#include "PartialFile.h"
#include "PollDispatcher.h"

namespace trackwell {
namespace {

const char* kUsage =
    "IN.wav OUT.wav [--eq g0,...,g11] [--pitch P] [--volume V] [--panning P] [--half-speed] "
    "[--overlap N] [--sola|--odas]";

struct Options {
  std::string in, out;
  bool eq = false;
  std::vector<float> gains;
  bool pitch = false;
  float pitchValue = 0;
  bool volume = false;
  int volumeValue = 16384, panning = 0;
  bool halfSpeed = false;
  int overlap = -1;
  int seam = -1;  // otSOLA or otLINE when given
};

bool ParseNumber(const std::string& s, double& v) {
  std::istringstream in(s);
  in >> v;
  return in && in.peek() == EOF && std::isfinite(v);
}

int Run(const std::vector<std::string>& args);

std::string RealPath(const std::string& path) {
  char* r = ::realpath(path.c_str(), nullptr);
  if (!r) return {};
  std::string s = r;
  std::free(r);
  return s;
}

// Whether writing out would write over in: the same file (device and inode, so also through
// symbolic and hard links), or, when out does not exist yet, the same resolved path.
bool SameFile(const std::string& in, const std::string& out) {
  struct stat a {
  }, b{};
  if (::stat(in.c_str(), &a) != 0) return false;
  if (::stat(out.c_str(), &b) == 0) return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
  std::string target = ql::ResolveOutputTarget(out);
  std::size_t slash = target.rfind('/');
  std::string dir = slash == std::string::npos ? "." : target.substr(0, slash + 1);
  std::string real = RealPath(dir);
  return !real.empty() &&
         real + "/" + target.substr(slash == std::string::npos ? 0 : slash + 1) == RealPath(in);
}

const TCommandRegistration reg({"process", kUsage,
                                "run a wave file through the equalizer, pitch, volume and "
                                "half-speed stages",
                                Run});

int Parse(const std::vector<std::string>& args, Options& o) {
  const TCommand& cmd = *FindCommand("process");
  std::vector<std::string> files;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](double& v) {
      if (i + 1 >= args.size()) return false;
      return ParseNumber(args[++i], v);
    };
    double v;
    if (a == "--eq") {
      if (i + 1 >= args.size()) return UsageError(cmd, "--eq needs twelve gains in dB");
      std::stringstream list(args[++i]);
      std::string item;
      o.gains.clear();
      while (std::getline(list, item, ',')) {
        if (!ParseNumber(item, v) || v < -10 || v > 10)
          return UsageError(cmd, "bad equalizer gain '" + item + "' (from -10 to 10 dB)");
        o.gains.push_back(static_cast<float>(v));
      }
      if (o.gains.size() != 12)
        return UsageError(cmd,
                          "--eq needs twelve gains in dB, got " + std::to_string(o.gains.size()));
      o.eq = true;
    } else if (a == "--pitch") {
      if (!value(v) || v < -50 || v > 50)
        return UsageError(cmd, "--pitch needs a number from -50 to 50");
      o.pitch = true;
      o.pitchValue = static_cast<float>(v);
    } else if (a == "--volume") {
      if (!value(v) || v < 0 || v > 32000 || v != std::floor(v))
        return UsageError(cmd, "--volume needs a whole number from 0 to 32000 (16384 = unchanged)");
      o.volume = true;
      o.volumeValue = static_cast<int>(v);
    } else if (a == "--panning") {
      if (!value(v) || v < -16384 || v > 16384 || v != std::floor(v))
        return UsageError(cmd, "--panning needs a whole number from -16384 to 16384");
      o.volume = true;
      o.panning = static_cast<int>(v);
    } else if (a == "--half-speed") {
      o.halfSpeed = true;
    } else if (a == "--overlap") {
      if (!value(v) || v < 10 || v > 4096 || v != std::floor(v))
        return UsageError(cmd, "--overlap needs a whole number from 10 to 4096");
      o.overlap = static_cast<int>(v);
    } else if (a == "--sola" || a == "--odas") {
      const int seam = a == "--sola" ? otSOLA : otLINE;
      if (o.seam >= 0 && o.seam != seam) return UsageError(cmd, "give --sola or --odas, not both");
      o.seam = seam;
    } else if (!a.empty() && a[0] == '-' && a != "-") {
      return UsageError(cmd, "unknown option '" + a + "'");
    } else {
      files.push_back(a);
    }
  }
  if (files.size() != 2) return UsageError(cmd, "give one input and one output file");
  if (!o.halfSpeed && (o.overlap >= 0 || o.seam >= 0))
    return UsageError(cmd, "--overlap, --sola and --odas shape --half-speed; add --half-speed");
  o.in = files[0];
  o.out = files[1];
  return 0;
}

int Run(const std::vector<std::string>& args) {
  Options o;
  if (int rc = Parse(args, o)) return rc;

  ql::PollDispatcher loop;
  ql::SetDispatcher(&loop);
  std::string failure;
  SetApplicationExceptionHandler([&](const std::exception& e) { failure = e.what(); });

  TMMWaveFile source, sink;
  TMMPitch pitch, slowDown;
  TMMVolume volume;
  TMMMetronome metronome;
  TMMEqualizer equalizer;
  TMMTrigger trigger;

  // The output: never the input, never a device; written under a temporary name (leftovers of
  // an interrupted run removed first) and renamed when complete.
  if (SameFile(o.in, o.out)) {
    std::fprintf(stderr, "trackwell process: %s is the input file; give another output\n",
                 o.out.c_str());
    return 1;
  }
  const std::string target = ql::ResolveOutputTarget(o.out);
  ql::RemoveLeftovers(target.find('/') == std::string::npos
                          ? std::string()
                          : target.substr(0, target.rfind('/') + 1));

  // The input: a regular wave file with a usable format, or a message with the reason (a FIFO
  // or a device is refused before it is opened: reading one could wait for ever).
  struct stat st {};
  if (::stat(o.in.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    std::fprintf(stderr, "trackwell process: %s: not a regular file\n", o.in.c_str());
    return 1;
  }
  try {
    source.Wave()->SetFileName(o.in);
  } catch (const EMMWaveError&) {
    TMMWaveIOInfo parsed;
    if (parsed.io.Open(o.in, mmioRead) && wioParseWave(parsed.io, parsed) != 0 && parsed.fmt &&
        WaveFormatProblem(parsed.fmt.get())) {
      std::fprintf(stderr, "trackwell process: %s: %s\n", o.in.c_str(),
                   WaveFormatProblem(parsed.fmt.get()));
      return 1;
    }
    throw;
  }
  if (!source.GetWaveFormat()) throw EMMWaveError("Invalid wave file...");
  sink.Wave()->FileMustExist = false;
  sink.Wave()->SetFileName(o.out);

  // The stages in the playback chain's order, with the ripper's settings.
  ripper::TStages stages;
  if (o.pitch) stages.pitch = &pitch;
  if (o.volume) stages.volume = &volume;
  if (o.halfSpeed) {
    stages.metronome = &metronome;
    stages.slowDown = &slowDown;
  }
  if (o.eq) stages.equalizer = &equalizer;
  ripper::InitStages(stages);
  pitch.SetPitch(o.pitchValue);
  volume.SetVolume(o.volumeValue);
  volume.SetPanning(o.panning);
  if (o.overlap >= 0) metronome.SetDivSize(o.overlap);
  if (o.seam >= 0) metronome.SetOverlapType(static_cast<TMMOverlapType>(o.seam));
  if (o.eq)
    for (int i = 0; i < 12; ++i) equalizer.Filters()->Items(i)->SetGain(o.gains[i]);
  // The output lines up with the input: the equalizer's delay is taken off.
  equalizer.CompensateLatency = true;
  trigger.SetInput(ripper::LinkStages(&source, stages));
  trigger.SetOutput(&sink);
  ripper::InitTrigger(trigger);

  bool closedEarly = false;
  sink.OnClose = [&](TMMDSPComponent*) {
    if (trigger.State() & TMMTrigger::stPlaying) closedEarly = true;
  };
  trigger.OnStop = [&](TMMDSPComponent*) { loop.Quit(); };
  trigger.Start();
  loop.Run();
  // A failure anywhere in the chain: what the sink holds is not the whole output.
  if (!failure.empty()) sink.DiscardOnClose();
  trigger.Close();
  SetApplicationExceptionHandler(nullptr);
  ql::SetDispatcher(nullptr);
  if (!failure.empty()) {
    std::fprintf(stderr, "trackwell process: %s\n", failure.c_str());
    return 1;
  }
  if (!sink.FailureText().empty() || closedEarly) {
    std::fprintf(stderr, "trackwell process: %s\n",
                 sink.FailureText().empty() ? (o.out + ": the output ended early").c_str()
                                            : sink.FailureText().c_str());
    return 1;
  }
  const std::int64_t clipped = volume.ClippedSamples() + equalizer.ClippedSamples();
  if (clipped > 0)
    std::fprintf(stderr, "trackwell process: %lld sample%s clipped\n",
                 static_cast<long long>(clipped), clipped == 1 ? "" : "s");
  return 0;
}

}  // namespace
}  // namespace trackwell
