#include "RipLog.h"

#include <cstdio>
#include <ctime>

#include "SafeName.h"
#include "TextFile.h"

namespace ripper {

namespace {

std::string Msf(std::uint32_t sectors) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02u:%02u:%02u", sectors / 75 / 60, sectors / 75 % 60,
                sectors % 75);
  return buf;
}

// A cue sheet string: no way to escape a quote, so it becomes an apostrophe.
std::string CueText(std::string s) {
  for (char& c : s)
    if (c == '"') c = '\'';
  return "\"" + s + "\"";
}

std::string Hex(std::uint32_t v) {
  char buf[12];
  std::snprintf(buf, sizeof buf, "%08x", v);
  return buf;
}

}  // namespace

std::string RipSideFileBase(const RipLogInfo& info) {
  std::string base;
  if (!info.artist.empty() && !info.title.empty())
    base = info.artist + " - " + info.title;
  else if (!info.title.empty() || !info.artist.empty())
    base = info.title.empty() ? info.artist : info.title;
  else
    base = "disc " + Hex(info.cddbId);
  // Room for the extension within a file name's 255 bytes.
  return ripper::SafeName(base.substr(0, 240));
}

std::vector<std::string> WriteRipSideFiles(const std::string& dir, const RipLogInfo& info,
                                           const std::vector<TrackResult>& results) {
  const std::string base = RipSideFileBase(info);
  std::string log, cue, m3u = "#EXTM3U\n";
  std::time_t now = std::time(nullptr);
  char when[64];
  std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S %z", std::localtime(&now));
  log += info.program + " rip log, " + when + "\n\n";
  log += "Source:      " + info.source + "\n";
  log += "Read mode:   " + info.mode + "\n";
  log += "Read offset: " + std::to_string(info.offset) + " samples\n";
  if (!info.artist.empty()) log += "Artist:      " + info.artist + "\n";
  if (!info.title.empty()) log += "Title:       " + info.title + "\n";
  if (!info.catalog.empty()) log += "Catalogue:   " + info.catalog + "\n";
  log += "CDDB disc ID: " + Hex(info.cddbId) + "\n";
  if (!info.accurateRip.empty()) log += "AccurateRip: " + info.accurateRip + "\n";
  log += "\n";

  if (!info.genre.empty()) cue += "REM GENRE " + CueText(info.genre) + "\n";
  if (!info.year.empty()) cue += "REM DATE " + info.year + "\n";
  cue += "REM DISCID " + Hex(info.cddbId) + "\n";
  if (!info.catalog.empty()) cue += "CATALOG " + info.catalog + "\n";
  if (!info.artist.empty()) cue += "PERFORMER " + CueText(info.artist) + "\n";
  if (!info.title.empty()) cue += "TITLE " + CueText(info.title) + "\n";

  bool hiddenRipped = false;
  for (const TrackResult& r : results)
    if (r.number == 0) hiddenRipped = true;
  if (info.hiddenSectors && !hiddenRipped)
    log += "Hidden track: " + std::to_string(info.hiddenSectors) +
           " sectors before track 1, not ripped\n\n";

  // The last file of the sheet and the disc sectors [first, end) it holds; the hidden track's
  // file goes in only with the INDEX 00 of track 1 that it holds.
  struct SheetFile {
    std::string line;
    std::uint32_t first = 0, end = 0;
    bool valid = false, pending = false;
  } prev;
  int good = 0, bad = 0, differ = 0;
  for (std::size_t i = 0; i < results.size(); ++i) {
    const TrackResult& r = results[i];
    const RipLogTrack* t = i < info.tracks.size() ? &info.tracks[i] : nullptr;
    char head[32];
    std::snprintf(head, sizeof head, "Track %2d", r.number);
    log += head;
    log += "  " + r.name + (r.number == 0 ? " (hidden track before track 1)" : "") + "\n";
    if (t) {
      log += "  Range:      " + Msf(t->start) + " - " + Msf(t->start + t->length) + " (" +
             std::to_string(t->length) + " sectors)\n";
      if (t->pregap) log += "  Pregap:     " + Msf(t->pregap) + " (in the track before)\n";
      if (!t->isrc.empty()) log += "  ISRC:       " + t->isrc + "\n";
    }
    log += "  Status:     " + r.status + (r.reason.empty() ? "" : " (" + r.reason + ")") + "\n";
    if (r.audioBytes > 0) log += "  CRC-32:     " + Hex(r.crc) + "\n";
    if (r.tested) {
      log += "  Test CRC-32: " + Hex(r.testCrc) + ", copy CRC-32: " + Hex(r.crc) +
             (r.TestAndCopyMatch() ? ": the reads match\n" : ": THE READS DIFFER\n");
      if (!r.TestAndCopyMatch()) ++differ;
    }
    if (r.arComputed)
      log += "  AccurateRip: v1 " + Hex(r.arV1) + ", v2 " + Hex(r.arV2) + ": " + r.accurateRip +
             (r.arConfidence ? " (confidence " + std::to_string(r.arConfidence) + ")" : "") + "\n";
    log += "  Skipped sectors: " + std::to_string(r.skippedSectors) + "\n";
    if (!r.file.empty()) log += "  File:       " + r.file + "\n";
    log += "\n";
    if (r.status == "failed") ++bad;
    if (r.status != "ok") continue;
    ++good;
    const std::string fileLine =
        "FILE " + CueText(r.file) +
        (r.file.size() > 4 && r.file.substr(r.file.size() - 4) == ".mp3" ? " MP3\n" : " WAVE\n");
    const long seconds = t ? static_cast<long>(t->length / 75) : -1;
    m3u += "#EXTINF:" + std::to_string(seconds) + "," +
           (info.artist.empty() ? r.name : info.artist + " - " + r.name) + "\n" + r.file + "\n";
    SheetFile here;
    here.line = fileLine;
    here.valid = t != nullptr;
    if (t) {
      here.first = t->fileLength ? t->fileStart : t->start;
      here.end = here.first + (t->fileLength ? t->fileLength : t->length);
    }
    if (r.number == 0) {
      here.pending = true;
      prev = here;
      continue;
    }
    const std::uint32_t pregap = t ? t->pregap : 0;
    const bool gapInPrevious =
        pregap && prev.valid && prev.end == t->start && prev.first <= t->start - pregap;
    char track[32];
    std::snprintf(track, sizeof track, "  TRACK %02d AUDIO\n", r.number);
    std::string trackLines = track;
    trackLines += "    TITLE " + CueText(r.name) + "\n";
    if (t && !t->isrc.empty()) trackLines += "    ISRC " + t->isrc + "\n";
    if (gapInPrevious) {
      if (prev.pending) cue += prev.line;
      cue += trackLines + "    INDEX 00 " + Msf(t->start - pregap - prev.first) + "\n" + fileLine;
    } else {
      cue += fileLine + trackLines;
      if (pregap) cue += "    PREGAP " + Msf(pregap) + "\n";
    }
    cue += "    INDEX 01 00:00:00\n";
    prev = here;
  }
  log += std::to_string(good) + " track(s) ripped, " + std::to_string(bad) + " failed.\n";
  if (info.testAndCopy)
    log += differ ? "Test and copy: " + std::to_string(differ) +
                        " track(s) read differently the second time: rip them again.\n"
                  : "Test and copy: every track read the same twice.\n";

  const std::string folder = dir.empty() || dir.back() == '/' ? dir : dir + "/";
  std::vector<std::string> written;
  for (const auto& [ext, text] :
       {std::pair<const char*, const std::string*>{".log", &log}, {".cue", &cue}, {".m3u", &m3u}}) {
    ql::WriteFileAtomic(folder + base + ext, *text);
    written.push_back(base + ext);
  }
  return written;
}

}  // namespace ripper
