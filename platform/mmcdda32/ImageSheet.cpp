#include "ImageSheet.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "SheetText.h"

namespace cdda {

int32_t ImageLayout::TrackEnd(size_t i) const {
  if (i + 1 >= tracks.size()) return leadout;
  const ImageTrack& next = tracks[i + 1];
  int32_t end = next.start;
  if (tracks[i].audio && (!next.audio || next.session != tracks[i].session)) {
    if (next.pregap >= 0) end = next.pregap;
    if (next.session != tracks[i].session) end -= kSessionGap;
  }
  return std::max(end, tracks[i].start);
}

namespace {

using sheet::Fail;
using sheet::Upper;

// Sector size in the file of a cue track mode, 0 for a mode the reader cannot place.
uint32_t CueModeBytes(const std::string& mode, bool* audio) {
  *audio = mode == "AUDIO";
  static const struct {
    const char* name;
    uint32_t bytes;
  } kModes[] = {{"AUDIO", 2352},      {"MODE1/2048", 2048}, {"MODE1/2352", 2352},
                {"MODE2/2048", 2048}, {"MODE2/2324", 2324}, {"MODE2/2336", 2336},
                {"MODE2/2352", 2352}, {"CDI/2336", 2336},   {"CDI/2352", 2352}};
  for (const auto& m : kModes)
    if (mode == m.name) return m.bytes;
  return 0;
}

// Builds the layout while the cue sheet is read: the file data between two index marks goes to
// the track that owns it; PREGAP and POSTGAP add silence; REM SESSION adds the session gap.
class CueReader {
 public:
  CueReader(const FileProbe& probe, ImageLayout* out, std::string* error)
      : probe_(probe), L_(*out), error_(*error) {}

  bool Line(int lineNo, std::string_view raw);
  bool Finish(int lastLine);

 private:
  bool Err(const std::string& why) { return Fail(error_, line_, why); }
  // Moves file data up to file sector t (-1: the end of the file) onto the disc.
  bool Flush(int32_t t);
  void Add(Segment::Kind kind, uint64_t bytes, uint64_t fileOffset = 0) {
    if (bytes == 0) return;
    Segment s;
    s.kind = kind;
    s.first = static_cast<uint64_t>(lsn_) * kSectorBytes;
    s.bytes = bytes;
    if (kind == Segment::file) {
      s.fileIndex = file_;
      s.fileOffset = fileOffset;
      s.swap = type_ == FileType::motorola;
    }
    L_.segments.push_back(s);
  }
  void Silence(int32_t sectors, Segment::Kind kind = Segment::silence) {
    Add(kind, static_cast<uint64_t>(sectors) * kSectorBytes);
    lsn_ += sectors;
  }
  ImageTrack* Current() { return L_.tracks.empty() ? nullptr : &L_.tracks.back(); }
  bool TrackDone();

  const FileProbe& probe_;
  ImageLayout& L_;
  std::string& error_;
  int line_ = 0;

  int file_ = -1;
  int fileLine_ = 0;
  FileType type_ = FileType::binary;
  uint64_t fileBytes_ = 0, fileCursor_ = 0;
  int32_t fileTime_ = 0;  // file sectors placed so far
  int32_t lsn_ = 0;       // disc cursor

  int owner_ = -1;  // track whose data the next flushed sectors are
  std::vector<uint32_t> modeBytes_;
  int trackLine_ = 0, lastIndex_ = -1;
  bool haveIndex1_ = false;
  int32_t pregap_ = 0, postgap_ = 0;
  int session_ = 1, pendingSession_ = 1;
};

bool CueReader::Flush(int32_t t) {
  if (file_ < 0) return true;
  int owner = owner_ >= 0 ? owner_ : static_cast<int>(L_.tracks.size()) - 1;
  if (owner < 0) return Fail(error_, fileLine_, "FILE holds no TRACK");
  const uint32_t size = modeBytes_[static_cast<size_t>(owner)];
  const bool audio = L_.tracks[static_cast<size_t>(owner)].audio;
  uint64_t left = fileBytes_ - fileCursor_;
  int32_t span;
  uint64_t bytes;
  if (t < 0) {
    span = static_cast<int32_t>((left + size - 1) / size);
    bytes = left;
  } else {
    if (t < fileTime_) return Err("INDEX is earlier than the INDEX before it");
    span = t - fileTime_;
    bytes = static_cast<uint64_t>(span) * size;
    if (bytes > left) return Err("INDEX lies beyond the end of the FILE");
  }
  if (static_cast<int64_t>(lsn_) + span > 0x7FFFFFF) return Err("the disc is too long");
  if (audio) {
    Add(Segment::file, bytes, fileCursor_);
    uint64_t full = static_cast<uint64_t>(span) * kSectorBytes;
    if (full > bytes) {  // a file that ends inside a sector: the rest is silence
      Segment s;
      s.kind = Segment::silence;
      s.first = static_cast<uint64_t>(lsn_) * kSectorBytes + bytes;
      s.bytes = full - bytes;
      L_.segments.push_back(s);
    }
  } else {
    Add(Segment::data, static_cast<uint64_t>(span) * kSectorBytes);
  }
  lsn_ += span;
  fileTime_ += span;
  fileCursor_ += bytes;
  return true;
}

bool CueReader::TrackDone() {
  ImageTrack* t = Current();
  if (t && !haveIndex1_)
    return Fail(error_, trackLine_, "TRACK " + std::to_string(t->number) + " has no INDEX 01");
  return true;
}

bool CueReader::Line(int lineNo, std::string_view raw) {
  line_ = lineNo;
  std::string_view rest = raw;
  std::string key = Upper(sheet::Word(rest));
  if (key.empty()) return true;
  ImageTrack* track = Current();
  if (key == "REM") {
    std::string what = Upper(sheet::Word(rest));
    if (what == "SESSION") {
      int n = 0;
      if (!sheet::Int(sheet::Word(rest), 1, 99, &n) || n < session_)
        return Err("REM SESSION needs a session number");
      pendingSession_ = n;
    } else if (what == "GENRE") {
      L_.genre = sheet::Value(rest);
    }
    return true;
  }
  if (key == "FILE") {
    std::string name, typeWord;
    if (!sheet::FileArgs(rest, &name, &typeWord)) return Err("FILE needs a name and a type");
    std::string type = Upper(typeWord);
    FileType ft;
    if (type == "BINARY")
      ft = FileType::binary;
    else if (type == "MOTOROLA")
      ft = FileType::motorola;
    else if (type == "WAVE")
      ft = FileType::wave;
    else
      return Err("FILE type " + typeWord + " is not supported (BINARY, MOTOROLA or WAVE)");
    if (!Flush(-1)) return false;
    FileInfo info;
    std::string why;
    if (!probe_(name, ft, &info, &why)) return Err("FILE \"" + name + "\": " + why);
    L_.files.push_back(info);
    file_ = static_cast<int>(L_.files.size()) - 1;
    fileLine_ = lineNo;
    type_ = ft;
    fileBytes_ = info.dataBytes;
    fileCursor_ = 0;
    fileTime_ = 0;
    return true;
  }
  if (key == "TRACK") {
    if (file_ < 0) return Err("TRACK before any FILE");
    int n = 0;
    if (!sheet::Int(sheet::Word(rest), 1, 99, &n)) return Err("TRACK needs a number 1-99");
    if (track && n <= track->number) return Err("TRACK numbers must increase");
    if (L_.tracks.size() >= 99) return Err("more than 99 tracks");
    std::string mode = Upper(sheet::Word(rest));
    bool audio = false;
    uint32_t bytes = CueModeBytes(mode, &audio);
    if (bytes == 0) return Err("TRACK mode " + mode + " is not supported");
    if (!TrackDone()) return false;
    ImageTrack t;
    t.number = n;
    t.audio = audio;
    L_.tracks.push_back(t);
    modeBytes_.push_back(bytes);
    trackLine_ = lineNo;
    lastIndex_ = -1;
    haveIndex1_ = false;
    pregap_ = 0;
    return true;
  }
  if (key == "INDEX") {
    if (!track) return Err("INDEX before any TRACK");
    int n = 0;
    int32_t t = 0;
    if (!sheet::Int(sheet::Word(rest), 0, 99, &n)) return Err("INDEX needs a number 0-99");
    if (!sheet::Msf(sheet::Word(rest), &t)) return Err("INDEX needs a time mm:ss:ff");
    if (n <= lastIndex_) return Err("INDEX numbers must increase");
    if (n > 1 && !haveIndex1_) return Err("INDEX " + std::to_string(n) + " before INDEX 01");
    if (lastIndex_ < 0) {
      const int32_t before = lsn_;
      if (!Flush(t)) return false;
      if (postgap_ > 0) Silence(postgap_);
      postgap_ = 0;
      if (pendingSession_ != session_) {
        if (L_.tracks.size() > 1) Silence(kSessionGap, Segment::data);
        session_ = pendingSession_;
      }
      track->session = session_;
      if (pregap_ > 0) {
        track->pregap = lsn_;
        Silence(pregap_, track->audio ? Segment::silence : Segment::data);
      } else if (L_.tracks.size() == 1 && before == 0 && lsn_ > 0) {
        track->pregap = 0;  // the first track's file starts before its INDEX 01
      }
      owner_ = static_cast<int>(L_.tracks.size()) - 1;
    } else if (!Flush(t)) {
      return false;
    }
    if (n == 0 && track->pregap < 0) track->pregap = lsn_;
    if (n == 1) {
      track->start = lsn_;
      haveIndex1_ = true;
    }
    lastIndex_ = n;
    return true;
  }
  if (key == "PREGAP" || key == "POSTGAP") {
    if (!track) return Err(key + " before any TRACK");
    int32_t t = 0;
    if (!sheet::Msf(sheet::Word(rest), &t)) return Err(key + " needs a time mm:ss:ff");
    if (key == "PREGAP") {
      if (lastIndex_ >= 0) return Err("PREGAP must come before the track's INDEX lines");
      pregap_ = t;
    } else {
      if (!haveIndex1_) return Err("POSTGAP must follow the track's INDEX 01");
      postgap_ = t;
    }
    return true;
  }
  if (key == "FLAGS") {
    if (!track) return Err("FLAGS before any TRACK");
    for (std::string f = Upper(sheet::Word(rest)); !f.empty(); f = Upper(sheet::Word(rest))) {
      if (f == "DCP") track->copy = true;
      if (f == "PRE") track->preEmphasis = true;
      if (f == "4CH") track->fourChannel = true;
    }
    return true;
  }
  if (key == "ISRC") {
    if (!track) return Err("ISRC before any TRACK");
    track->isrc = sheet::Value(rest);
    return true;
  }
  if (key == "CATALOG") {
    L_.catalog = sheet::Value(rest);
    return true;
  }
  if (key == "CDTEXTFILE") return true;
  struct Field {
    const char* key;
    std::string ImageLayout::*disc;
    std::string ImageTrack::*track;
  };
  static const Field kFields[] = {{"TITLE", &ImageLayout::title, &ImageTrack::title},
                                  {"PERFORMER", &ImageLayout::performer, &ImageTrack::performer},
                                  {"SONGWRITER", &ImageLayout::songwriter, &ImageTrack::songwriter},
                                  {"COMPOSER", &ImageLayout::composer, &ImageTrack::composer},
                                  {"ARRANGER", &ImageLayout::arranger, &ImageTrack::arranger},
                                  {"MESSAGE", &ImageLayout::message, &ImageTrack::message}};
  for (const Field& f : kFields)
    if (key == f.key) {
      (track ? track->*f.track : L_.*f.disc) = sheet::Value(rest);
      return true;
    }
  return Err("unknown command " + key);
}

bool CueReader::Finish(int lastLine) {
  line_ = lastLine;
  if (L_.tracks.empty()) return Err("the sheet names no TRACK");
  if (!TrackDone()) return false;
  if (!Flush(-1)) return false;
  if (postgap_ > 0) Silence(postgap_);
  L_.leadout = lsn_;
  return true;
}

}  // namespace

bool ParseCueSheet(std::string_view text, const FileProbe& probe, ImageLayout* out,
                   std::string* error) {
  *out = {};
  CueReader reader(probe, out, error);
  int lineNo = 0;
  bool ok = sheet::ForEachLine(text, [&](int n, std::string_view line) {
    lineNo = n;
    return reader.Line(n, line);
  });
  return ok && reader.Finish(lineNo);
}

}  // namespace cdda
