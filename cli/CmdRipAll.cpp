#include "CmdRipAll.h"

#include <sys/stat.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "CDImages.h"
#include "CddbCommands.h"
#include "Commands.h"
#include "Console.h"
#include "MMACMBind.h"
#include "MMACMCvt.h"
#include "MMCDDB.h"
#include "MMCDRead.h"
#include "PartialFile.h"
#include "PollDispatcher.h"
#include "ReaderTrackTable.h"
#include "RipLog.h"
#include "RipNames.h"
#include "RipRunner.h"
#include "RipVerify.h"
#include "RipperText.h"
#include "SafeName.h"
#include "ScriptedUi.h"

namespace trackwell {

const char* const kRipAllUsage =
    "(--all | --tracks LIST) --dir DIR [--device N] [--mode normal|burst|sync] [--offset N] "
    "[--trim-first] "
    "[--trim-last] [--add-artist] [--add-title] [--add-number] [--cddb --email USER@HOST "
    "[--server HOST[:PORT]] [--http [--path CGI]] [--proto LEVEL] [--timeout MS] [--no-cache]] "
    "[--mp3 [MP3 options] [--jobs N] | --format TAG,RATE,BITS,CHANNELS "
    "[--hq] | --encoder PROGRAM [--encoder-args TEMPLATE] [--jobs N]] [--test-and-copy] [--verify "
    "[--accuraterip-server URL]] [--no-log] [--no-sync] [--json] [--quiet]";

namespace {

struct Options {
  bool all = false, tracksGiven = false;
  std::vector<int> tracks;
  std::string dir;
  int device = -1;
  int offset = 0;  // read offset correction in samples
  bool cddb = false;
  std::string email, server;
  int port = 0;
  ql::TCddbTransportOptions transport;  // as trackwell cddb takes them
  bool transportGiven = false;
  bool json = false, quiet = false;
  std::string arServer = ripper::kAccurateRipServer;
  bool log = true;  // the log, cue sheet and playlist beside the files
  NamingOptions naming;
  RipSettings rip;
  WfxPtr format;
  bool jobsGiven = false;
};

// Returns 0, or the exit status of a usage error (printed).
int Parse(const std::vector<std::string>& args, Options& o) {
  const TCommand& cmd = *FindCommand("rip");
  std::string error;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&]() -> const std::string* { return i + 1 < args.size() ? &args[++i] : nullptr; };
    int r = Mp3Option(args, i, o.rip.mp3, error);
    if (r < 0) return UsageError(cmd, error);
    if (r > 0) continue;
    r = ql::TakeCddbTransportOption(args, i, o.transport);
    if (r < 0) return UsageError(cmd, a + " needs a value (--path CGI, --proto 1-6, --timeout MS)");
    if (r > 0) {
      o.transportGiven = true;
      continue;
    }
    if (a == "--all") {
      o.all = true;
    } else if (a == "--tracks") {
      const std::string* v = value();
      if (!v) return UsageError(cmd, "--tracks needs a list like 1,3-5");
      if (!ParseTrackList(*v, o.tracks, error)) return UsageError(cmd, error);
      o.tracksGiven = true;
    } else if (a == "--dir") {
      const std::string* v = value();
      if (!v || v->empty()) return UsageError(cmd, "--dir needs a folder");
      o.dir = *v;
    } else if (a == "--device") {
      const std::string* v = value();
      if (!v || !ParseInt(*v, 0, 1000, o.device)) return UsageError(cmd, "--device needs an index");
    } else if (a == "--mode") {
      const std::string* v = value();
      if (v && *v == "normal")
        o.rip.mode = cmNormal;
      else if (v && *v == "burst")
        o.rip.mode = cmBurst;
      else if (v && *v == "sync")
        o.rip.mode = cmSync;
      else
        return UsageError(cmd, "--mode is normal, burst or sync");
    } else if (a == "--offset") {
      const std::string* v = value();
      if (!v || !ParseInt(*v, -CDDA_MAX_OFFSET, CDDA_MAX_OFFSET, o.offset))
        return UsageError(cmd, "--offset needs a number of samples");
    } else if (a == "--trim-first") {
      o.rip.trimFirst = true;
    } else if (a == "--trim-last") {
      o.rip.trimLast = true;
    } else if (a == "--add-artist") {
      o.naming.addArtist = true;
    } else if (a == "--add-title") {
      o.naming.addTitle = true;
    } else if (a == "--add-number") {
      o.naming.addNumber = true;
    } else if (a == "--cddb") {
      o.cddb = true;
    } else if (a == "--email") {
      const std::string* v = value();
      if (!v || v->find('@') == std::string::npos ||
          v->find_first_of(" \t\r\n") != std::string::npos)
        return UsageError(cmd, "--email needs an address USER@HOST");
      o.email = *v;
    } else if (a == "--server") {
      const std::string* v = value();
      if (!v || v->empty()) return UsageError(cmd, "--server needs HOST[:PORT]");
      o.server = *v;
      auto colon = v->rfind(':');
      if (colon != std::string::npos) {
        o.server = v->substr(0, colon);
        if (o.server.empty() || !ParseInt(v->substr(colon + 1), 1, 65535, o.port))
          return UsageError(cmd, "--server needs HOST[:PORT]");
      }
    } else if (a == "--format") {
      const std::string* v = value();
      if (!v) return UsageError(cmd, "--format needs TAG,RATE,BITS,CHANNELS");
      if (!ACMApi().Usable()) throw EMMConverterError("no usable compression manager");
      o.format = ParseWaveFormat(*v);
      if (!o.format) return UsageError(cmd, "--format: no wave format '" + *v + "'");
    } else if (a == "--hq") {
      o.rip.highQuality = true;
    } else if (a == "--encoder") {
      const std::string* v = value();
      if (!v || v->empty()) return UsageError(cmd, "--encoder needs a program");
      o.rip.encoder = *v;
    } else if (a == "--encoder-args") {
      const std::string* v = value();
      if (!v) return UsageError(cmd, "--encoder-args needs a template");
      o.rip.encoderArgs = *v;
    } else if (a == "--jobs") {
      const std::string* v = value();
      if (!v || !ParseInt(*v, 1, 64, o.rip.jobs)) return UsageError(cmd, "--jobs needs 1-64");
      o.jobsGiven = true;
    } else if (a == "--json") {
      o.json = true;
    } else if (a == "--verify") {
      o.rip.accurateRip = true;
    } else if (a == "--test-and-copy") {
      o.rip.testAndCopy = true;
    } else if (a == "--accuraterip-server") {
      const std::string* v = value();
      if (!v || v->empty()) return UsageError(cmd, "--accuraterip-server needs an http:// address");
      o.arServer = *v;
    } else if (a == "--no-log") {
      o.log = false;
    } else if (a == "--no-sync") {
      o.rip.sync = false;
    } else if (a == "--quiet") {
      o.quiet = true;
    } else {
      return UsageError(cmd, "unexpected argument '" + a + "'");
    }
  }
  if (o.all == o.tracksGiven) return UsageError(cmd, "give --all or --tracks LIST");
  if (o.dir.empty()) return UsageError(cmd, "--dir DIR is needed");
  if (!CheckMp3Options(o.rip.mp3, error)) return UsageError(cmd, error);
  if (o.cddb && o.email.empty()) return UsageError(cmd, "--cddb needs --email USER@HOST");
  if (!o.cddb && (!o.email.empty() || !o.server.empty()))
    return UsageError(cmd, "--email and --server need --cddb");
  if (!o.cddb && o.transportGiven)
    return UsageError(cmd, "--http, --path, --proto, --timeout and --no-cache need --cddb");
  if (!o.rip.encoder.empty() && o.rip.mp3.on)
    return UsageError(cmd, "give --mp3 or --encoder, not both");
  if (o.rip.encoder.empty() && !o.rip.encoderArgs.empty())
    return UsageError(cmd, "--encoder-args needs --encoder");
  if (o.jobsGiven && o.rip.encoder.empty() && !o.rip.mp3.on)
    return UsageError(cmd, "--jobs needs --mp3 or --encoder");
  // External encoders run beside the reading, one at a time unless --jobs says otherwise.
  if (!o.rip.encoder.empty() && !o.jobsGiven) o.rip.jobs = 1;
  o.rip.format = o.format.get();
  o.rip.progress = !o.quiet;
  return 0;
}

// The names of the disc from a CDDB server, first match.
DiscNames CddbNames(TMMCDReader& reader, const Options& o, const std::vector<int>& numbers) {
  ql::TMMCDReaderTrackTable table(reader);
  ql::TMMCDDB cddb;
  if (!o.server.empty()) cddb.SetServer(o.server);
  ql::ApplyCddbTransport(cddb, o.transport);
  if (o.port) cddb.SetPort(o.port);
  cddb.SetAppName("trackwell");
  cddb.SetRevision("1.0");
  cddb.SetEmail(o.email);
  cddb.SetCDReader(&table);
  cddb.SetUseFirstMatch(true);
  std::string result;
  cddb.QueryDisc(result);
  if (cddb.TrackTitles().empty() && cddb.GetDiscTitle().empty())
    throw ql::EMMCDDBError("CDDB: " + (result.empty() ? std::string("No entry found")
                                                      : result.substr(0, result.find("\r\n"))));
  // Whatever the server sent: no control characters, no broken UTF-8.
  DiscNames n;
  n.artist = ripper::SafeValue(cddb.GetArtist());
  n.title = ripper::SafeValue(cddb.GetTitle());
  n.year = ripper::SafeValue(cddb.GetYear());
  n.genre = ripper::SafeValue(cddb.GetGenre());
  for (std::size_t i = 0; i < numbers.size(); ++i) {
    std::string t = i < cddb.TrackTitles().size() ? cddb.TrackTitles()[i] : std::string();
    n.tracks.push_back(ripper::SafeValue(t));
  }
  cddb.SetCDReader(nullptr);
  return n;
}

bool IsDataTrack(const CDDA_TRACK& t) {
  return !t.fAudio || (t.bAttrib & CDDA_ATTR_DATA);
}

}  // namespace

WfxPtr ParseWaveFormat(const std::string& s) {
  int v[4];
  std::stringstream list(s);
  std::string item;
  int n = 0;
  while (std::getline(list, item, ',')) {
    if (n == 4 || !ParseInt(item, 0, 1000000, v[n])) return nullptr;
    ++n;
  }
  if (n != 4) return nullptr;
  return ACMBuildFormat(v[0], v[1], v[2], v[3]);
}

bool IsRipAll(const std::vector<std::string>& args) {
  for (const auto& a : args)
    if (a == "--all" || a == "--tracks") return true;
  return false;
}

int RunRipAll(const std::vector<std::string>& args) {
  Options o;
  if (int rc = Parse(args, o)) return rc;
  // The folder is made when it is missing, as other rippers do.
  std::error_code made;
  std::filesystem::create_directories(o.dir, made);
  struct stat st {};
  if (stat(o.dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    std::fprintf(stderr, "trackwell rip: %s: cannot make the folder: %s\n", o.dir.c_str(),
                 made ? made.message().c_str() : "it is not a folder");
    return 1;
  }
  // Encoders get full paths, as in the window.
  char real[PATH_MAX];
  if (!realpath(o.dir.c_str(), real)) {
    std::fprintf(stderr, "trackwell rip: %s: no such folder\n", o.dir.c_str());
    return 1;
  }
  o.rip.dir = real;
  // What an interrupted run left behind goes first; a signal now removes this run's own.
  ql::RemoveLeftovers(o.rip.dir);
  ql::InstallSignalCleanup();

  Session s;
  // Failures of a chain reach the track through the trigger's error event; the text is shown
  // here as well.
  SetApplicationExceptionHandler(
      [](const std::exception& e) { std::fprintf(stderr, "trackwell rip: %s\n", e.what()); });
  TMMCDReader reader;
  SelectDevice(reader, o.device);
  ReadTOCOrFail(reader);
  reader.SetReadOffset(o.offset);
  const CDDA_TOC& toc = reader.TrackList();
  std::vector<int> numbers;
  for (std::uint32_t i = 0; i < toc.dwNumTracks; ++i)
    numbers.push_back(static_cast<int>(toc.Tracks[i].dwTrack));

  const ripper::TDiscText text = ripper::ParseDiscText(reader.CDText());
  DiscNames names =
      o.cddb ? CddbNames(reader, o, numbers)
             : StoredDiscNames(ripper::DiscSectionName(reader.DiscKey()), numbers, &text);
  for (std::size_t i = 0; i < names.tracks.size(); ++i)
    if (names.tracks[i].empty()) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "%.2d", numbers[i]);
      names.tracks[i] = buf;
    }
  // The disc store keeps no genre: the disc's own text gives one when CDDB did not. The
  // recordings' ISRCs come from the disc.
  if (names.genre.empty()) names.genre = text.genre;
  for (int number : numbers) {
    const ripper::TTrackText* tt = text.Track(number);
    names.isrcs.push_back(tt ? tt->isrc : std::string());
  }
  // The hidden track before track 1 (--tracks 0) takes the place after the table's tracks.
  std::uint32_t hiddenStart = 0, hiddenLength = 0;
  const bool hidden = reader.HiddenTrackRange(hiddenStart, hiddenLength);
  const int hiddenPosition = static_cast<int>(numbers.size());
  names.tracks.push_back("00");

  // The tracks asked for, in disc order; a number the disc lacks fails on its own.
  std::vector<int> positions, planNumbers;
  std::vector<TrackResult> missing;
  if (o.all) {
    for (std::size_t i = 0; i < numbers.size(); ++i) {
      positions.push_back(static_cast<int>(i));
      planNumbers.push_back(numbers[i]);
    }
  } else {
    for (int t : o.tracks) {
      int pos = -1;
      for (std::size_t i = 0; i < numbers.size(); ++i)
        if (numbers[i] == t) pos = static_cast<int>(i);
      if (t == 0 && hidden) pos = hiddenPosition;
      if (pos < 0) {
        TrackResult r;
        r.number = t;
        r.status = "failed";
        r.reason = t == 0 ? "no hidden track before track 1 on the disc"
                          : "no track " + std::to_string(t) + " on the disc (" +
                                std::to_string(numbers.size()) + " tracks)";
        missing.push_back(r);
        continue;
      }
      positions.push_back(pos);
      planNumbers.push_back(t);
    }
  }

  const bool external = !o.rip.encoder.empty();
  NamingOptions waveNaming = o.naming;
  waveNaming.external = external;
  std::vector<std::string> waveNames =
      TrackFileNames(names, positions, planNumbers, "wav", waveNaming);
  std::vector<std::string> outNames =
      (o.rip.mp3.on || external) ? TrackFileNames(names, positions, planNumbers, "mp3", waveNaming)
                                 : waveNames;
  int firstAudio = -1, lastAudio = -1;
  for (std::uint32_t i = 0; i < toc.dwNumTracks; ++i)
    if (!IsDataTrack(toc.Tracks[i])) {
      if (firstAudio < 0) firstAudio = static_cast<int>(i);
      lastAudio = static_cast<int>(i);
    }
  std::vector<RipTrackPlan> plan;
  std::vector<TrackResult> results;
  for (std::size_t k = 0; k < positions.size(); ++k) {
    RipTrackPlan p;
    const bool isHidden = positions[k] == hiddenPosition;
    p.tocIndex = isHidden ? -1 : positions[k];
    p.waveName = waveNames[k];
    p.outName = outNames[k];
    p.data = !isHidden && IsDataTrack(toc.Tracks[positions[k]]);
    p.named = !o.all;
    p.firstAudio = positions[k] == firstAudio;
    p.lastAudio = positions[k] == lastAudio;
    p.tags = TrackTags(names, positions[k], planNumbers[k], numbers.empty() ? 0 : numbers.back());
    plan.push_back(p);
    TrackResult r;
    r.number = planNumbers[k];
    r.name = names.tracks[static_cast<std::size_t>(positions[k])];
    results.push_back(r);
  }

  RunRip(s.loop, reader, o.rip, plan, results);
  // Two reads of a track that differ: one of them is wrong, whatever the file holds.
  bool readsDiffer = false;
  for (const auto& r : results) {
    if (!r.tested || (r.TestAndCopyMatch() && o.quiet)) continue;
    if (!r.TestAndCopyMatch()) readsDiffer = true;
    std::fprintf(stderr, "trackwell rip: track %d: test CRC %08x, copy CRC %08x: %s\n", r.number,
                 r.testCrc, r.crc,
                 r.TestAndCopyMatch() ? "the reads match" : "THE READS DIFFER, rip it again");
  }
  const ripper::TAccurateRipDisc disc = ripper::AccurateRipDiscOf(reader);
  if (o.rip.accurateRip) {
    const std::string why = ripper::VerifyAccurateRip(disc, o.arServer, results);
    if (!why.empty()) std::fprintf(stderr, "trackwell rip: %s\n", why.c_str());
    for (const auto& r : results) {
      if (!r.arComputed) continue;
      const std::string confidence =
          r.arConfidence ? " (confidence " + std::to_string(r.arConfidence) + ")" : "";
      std::fprintf(stderr, "trackwell rip: track %d: AccurateRip %08x/%08x: %s%s\n", r.number,
                   r.arV1, r.arV2, r.accurateRip.c_str(), confidence.c_str());
    }
  }

  // The log, cue sheet and playlist beside the files (of the tracks asked for).
  bool sideFilesOk = true;
  if (o.log) {
    ripper::RipLogInfo info;
    info.program = std::string("trackwell ") + QL_VERSION;
    info.source = reader.GetDeviceName();
    info.mode = o.rip.mode == cmBurst ? "burst" : o.rip.mode == cmSync ? "sync" : "normal";
    info.offset = o.offset;
    info.artist = names.artist;
    info.title = names.title;
    info.catalog = text.catalog;
    info.genre = names.genre;
    info.year = names.year;
    if (o.rip.accurateRip) info.accurateRip = disc.Path();
    info.cddbId = disc.cddbId;
    info.testAndCopy = o.rip.testAndCopy;
    info.hiddenSectors = hidden ? MSFToFrames(hiddenLength) : 0;
    for (std::size_t k = 0; k < plan.size(); ++k) {
      ripper::RipLogTrack lt;
      lt.number = results[k].number;
      std::uint32_t start = hiddenStart, length = hiddenLength;
      if (plan[k].tocIndex >= 0) {
        const CDDA_TRACK& t = toc.Tracks[plan[k].tocIndex];
        start = t.dwStartMSF;
        length = t.dwLengthMSF;
        lt.pregap = reader.TrackPregap(plan[k].tocIndex);
        if (const ripper::TTrackText* tt = text.Track(lt.number)) lt.isrc = tt->isrc;
      }
      lt.start = MSFToFrames(start);
      lt.length = MSFToFrames(length);
      if (o.rip.trimFirst || o.rip.trimLast) {
        TrimTrackRange(start, length, o.rip.trimFirst, o.rip.trimLast);
        lt.fileStart = MSFToFrames(start);
        lt.fileLength = MSFToFrames(length);
      }
      info.tracks.push_back(lt);
    }
    try {
      ripper::WriteRipSideFiles(o.rip.dir, info, results);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "trackwell rip: cannot write the log, cue sheet or playlist %s/%s: %s\n",
                   o.rip.dir.c_str(), ripper::RipSideFileBase(info).c_str(), e.what());
      sideFilesOk = false;
    }
  }

  results.insert(results.end(), missing.begin(), missing.end());
  bool ok = sideFilesOk && !readsDiffer;
  for (const auto& r : results)
    if (r.status != "ok" && r.status != "skipped") ok = false;
  for (const auto& r : results) {
    if (r.status == "failed")
      std::fprintf(stderr, "trackwell rip: track %d failed: %s\n", r.number, r.reason.c_str());
    else if (r.status == "skipped")
      std::fprintf(stderr, "trackwell rip: track %d skipped: %s\n", r.number, r.reason.c_str());
  }
  if (o.json) WriteJsonSummary(stdout, results, ok);
  return ok ? 0 : 1;
}

}  // namespace trackwell
