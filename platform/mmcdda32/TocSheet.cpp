// cdrdao tables of contents: tracks built of SILENCE, ZERO, FILE/AUDIOFILE and DATAFILE parts,
// with START (the end of the pregap held in the track's data) and PREGAP (silence added before
// it), placed as cdrdao places them.
#include <algorithm>
#include <cctype>

#include "ImageSheet.h"
#include "SheetText.h"

namespace cdda {
namespace {

using sheet::Upper;

struct Token {
  enum Kind { word, string, open, close, end } kind = end;
  std::string text;
  int line = 0;
};

class Lexer {
 public:
  explicit Lexer(std::string_view text) : s_(text) {
    if (s_.substr(0, 3) == "\xEF\xBB\xBF") s_.remove_prefix(3);
  }
  Token Next() {
    for (;;) {
      while (i_ < s_.size() && sheet::Space(s_[i_])) {
        if (s_[i_] == '\n') ++line_;
        ++i_;
      }
      if (s_.compare(i_, 2, "//") == 0) {
        while (i_ < s_.size() && s_[i_] != '\n') ++i_;
        continue;
      }
      break;
    }
    Token t;
    t.line = line_;
    if (i_ >= s_.size()) return t;
    char c = s_[i_];
    if (c == '{' || c == '}') {
      ++i_;
      t.kind = c == '{' ? Token::open : Token::close;
      return t;
    }
    if (c == '"') {
      t.kind = Token::string;
      for (++i_; i_ < s_.size() && s_[i_] != '"'; ++i_) {
        if (s_[i_] == '\n') ++line_;
        if (s_[i_] == '\\' && i_ + 1 < s_.size()) {
          ++i_;
          if (s_[i_] >= '0' && s_[i_] <= '7') {  // \ooo
            int v = 0, k = 0;
            for (; k < 3 && i_ < s_.size() && s_[i_] >= '0' && s_[i_] <= '7'; ++k, ++i_)
              v = v * 8 + (s_[i_] - '0');
            --i_;
            t.text += static_cast<char>(v);
            continue;
          }
        }
        t.text += s_[i_];
      }
      if (i_ < s_.size()) ++i_;
      return t;
    }
    t.kind = Token::word;
    while (i_ < s_.size() && !sheet::Space(s_[i_]) && s_[i_] != '{' && s_[i_] != '}' &&
           s_[i_] != '"' && s_.compare(i_, 2, "//") != 0)
      t.text += s_[i_++];
    return t;
  }

 private:
  std::string_view s_;
  size_t i_ = 0;
  int line_ = 1;
};

class TocReader {
 public:
  TocReader(std::string_view text, const FileProbe& probe, ImageLayout* out, std::string* error)
      : lex_(text), probe_(probe), L_(*out), error_(*error) {
    Advance();
  }
  bool Run();

 private:
  void Advance() { tok_ = lex_.Next(); }
  bool Err(const std::string& why) { return sheet::Fail(error_, tok_.line, why); }
  bool IsWord(const char* w) const { return tok_.kind == Token::word && Upper(tok_.text) == w; }
  // A length or position: mm:ss:ff, or a count of samples (bytes for a DATAFILE).
  bool Length(uint64_t unitBytes, uint64_t sectorBytes, uint64_t* bytes);
  bool SkipBlock();
  bool CdText(ImageTrack* track);
  bool Track();
  bool EndTrack();
  void Add(Segment::Kind kind, uint64_t bytes, int file = -1, uint64_t offset = 0,
           bool swap = false) {
    if (bytes == 0) return;
    Segment s;
    s.kind = kind;
    s.first = cursor_;
    s.bytes = bytes;
    s.fileIndex = file;
    s.fileOffset = offset;
    s.swap = swap;
    L_.segments.push_back(s);
    cursor_ += bytes;
  }

  Lexer lex_;
  Token tok_;
  const FileProbe& probe_;
  ImageLayout& L_;
  std::string& error_;
  uint64_t cursor_ = 0;  // disc bytes placed so far
  uint64_t trackBegin_ = 0;
  int64_t startAt_ = -1;  // bytes of the track before index 1
  int startLine_ = 0;
  uint32_t modeBytes_ = kSectorBytes;
};

bool TocReader::Length(uint64_t unitBytes, uint64_t sectorBytes, uint64_t* bytes) {
  if (tok_.kind != Token::word) return Err("a length is missing");
  int32_t sectors = 0;
  if (tok_.text.find(':') != std::string::npos) {
    if (!sheet::Msf(tok_.text, &sectors)) return Err("bad time " + tok_.text);
    *bytes = static_cast<uint64_t>(sectors) * sectorBytes;
  } else {
    uint64_t v = 0;
    if (tok_.text.empty() || tok_.text.size() > 15) return Err("bad length " + tok_.text);
    for (char c : tok_.text) {
      if (!std::isdigit(static_cast<unsigned char>(c))) return Err("bad length " + tok_.text);
      v = v * 10 + static_cast<uint64_t>(c - '0');
    }
    *bytes = v * unitBytes;
  }
  Advance();
  return true;
}

bool TocReader::SkipBlock() {  // at '{'
  int depth = 0;
  do {
    if (tok_.kind == Token::end) return Err("a { block is not closed");
    if (tok_.kind == Token::open) ++depth;
    if (tok_.kind == Token::close) --depth;
    Advance();
  } while (depth > 0);
  return true;
}

// CD_TEXT { LANGUAGE_MAP { ... } LANGUAGE n { FIELD "value" ... } ... }: the first language.
bool TocReader::CdText(ImageTrack* track) {
  Advance();
  if (tok_.kind != Token::open) return Err("CD_TEXT needs a { block");
  Advance();
  bool first = true;
  while (tok_.kind != Token::close) {
    if (tok_.kind == Token::end) return Err("a { block is not closed");
    if (IsWord("LANGUAGE_MAP")) {
      Advance();
      if (tok_.kind != Token::open || !SkipBlock()) return Err("LANGUAGE_MAP needs a { block");
      continue;
    }
    if (!IsWord("LANGUAGE")) return Err("unexpected " + tok_.text + " in CD_TEXT");
    Advance();
    if (tok_.kind == Token::word) Advance();  // the language number
    if (tok_.kind != Token::open) return Err("LANGUAGE needs a { block");
    Advance();
    while (tok_.kind != Token::close) {
      if (tok_.kind != Token::word) return Err("a CD-Text field name is missing");
      std::string key = Upper(tok_.text);
      Advance();
      if (tok_.kind == Token::open) {  // binary data
        if (!SkipBlock()) return false;
        continue;
      }
      if (tok_.kind != Token::string) return Err("CD-Text " + key + " needs a value");
      if (first) {
        std::string v = tok_.text;
        auto set = [&](std::string ImageTrack::*t, std::string ImageLayout::*d) {
          (track ? track->*t : L_.*d) = v;
        };
        if (key == "TITLE") set(&ImageTrack::title, &ImageLayout::title);
        if (key == "PERFORMER") set(&ImageTrack::performer, &ImageLayout::performer);
        if (key == "SONGWRITER") set(&ImageTrack::songwriter, &ImageLayout::songwriter);
        if (key == "COMPOSER") set(&ImageTrack::composer, &ImageLayout::composer);
        if (key == "ARRANGER") set(&ImageTrack::arranger, &ImageLayout::arranger);
        if (key == "MESSAGE") set(&ImageTrack::message, &ImageLayout::message);
        if (key == "ISRC" && track) track->isrc = v;
        if (key == "UPC_EAN" && !track && L_.catalog.empty()) L_.catalog = v;
      }
      Advance();
    }
    Advance();
    first = false;
  }
  Advance();
  return true;
}

bool TocReader::EndTrack() {
  if (L_.tracks.empty()) return true;
  ImageTrack& t = L_.tracks.back();
  // A track ends on a sector boundary: cdrdao pads an audio track's last sector with silence.
  if (cursor_ % kSectorBytes)
    Add(t.audio ? Segment::silence : Segment::data, kSectorBytes - cursor_ % kSectorBytes);
  uint64_t length = cursor_ - trackBegin_;
  if (length == 0) return Err("TRACK " + std::to_string(t.number) + " holds no data");
  uint64_t startAt = startAt_ < 0 ? 0 : static_cast<uint64_t>(startAt_);
  if (startAt > length)
    return sheet::Fail(error_, startLine_, "START lies beyond the end of the track");
  if (startAt % kSectorBytes) return sheet::Fail(error_, startLine_, "START is no whole sector");
  t.pregap = startAt > 0 ? static_cast<int32_t>(trackBegin_ / kSectorBytes) : -1;
  t.start = static_cast<int32_t>((trackBegin_ + startAt) / kSectorBytes);
  if (cursor_ / kSectorBytes > 0x7FFFFFF) return Err("the disc is too long");
  return true;
}

bool TocReader::Track() {
  if (!EndTrack()) return false;
  if (L_.tracks.size() >= 99) return Err("more than 99 tracks");
  Advance();
  std::string mode = Upper(tok_.text);
  static const struct {
    const char* name;
    uint32_t bytes;
  } kModes[] = {{"AUDIO", 2352},       {"MODE0", 2336},          {"MODE1", 2048},
                {"MODE1_RAW", 2352},   {"MODE2", 2336},          {"MODE2_FORM1", 2048},
                {"MODE2_FORM2", 2324}, {"MODE2_FORM_MIX", 2336}, {"MODE2_RAW", 2352}};
  modeBytes_ = 0;
  for (const auto& m : kModes)
    if (mode == m.name) modeBytes_ = m.bytes;
  if (tok_.kind != Token::word || modeBytes_ == 0)
    return Err("TRACK mode " + mode + " is not supported");
  Advance();
  if (IsWord("RW") || IsWord("RW_RAW")) return Err("sub-channel data is not supported");
  ImageTrack t;
  t.number = static_cast<int>(L_.tracks.size()) + 1;
  t.audio = mode == "AUDIO";
  L_.tracks.push_back(t);
  ImageTrack& track = L_.tracks.back();
  trackBegin_ = cursor_;
  startAt_ = -1;
  const uint64_t unit = track.audio ? 4 : 1;
  while (tok_.kind != Token::end && !IsWord("TRACK")) {
    if (tok_.kind != Token::word) return Err("unexpected text in TRACK");
    std::string key = Upper(tok_.text);
    if (key == "NO") {
      Advance();
      std::string what = Upper(tok_.text);
      if (what == "COPY")
        track.copy = false;
      else if (what == "PRE_EMPHASIS")
        track.preEmphasis = false;
      else
        return Err("NO " + what + " is not known");
      Advance();
    } else if (key == "COPY" || key == "PRE_EMPHASIS" || key == "TWO_CHANNEL_AUDIO" ||
               key == "FOUR_CHANNEL_AUDIO") {
      if (key == "COPY") track.copy = true;
      if (key == "PRE_EMPHASIS") track.preEmphasis = true;
      track.fourChannel =
          key == "FOUR_CHANNEL_AUDIO" || (track.fourChannel && key != "TWO_CHANNEL_AUDIO");
      Advance();
    } else if (key == "ISRC") {
      Advance();
      if (tok_.kind != Token::string) return Err("ISRC needs a quoted code");
      track.isrc = tok_.text;
      Advance();
    } else if (key == "CD_TEXT") {
      if (!CdText(&track)) return false;
    } else if (key == "PREGAP") {
      if (cursor_ != trackBegin_) return Err("PREGAP must come before the track's data");
      Advance();
      uint64_t bytes = 0;
      if (!Length(unit, kSectorBytes, &bytes)) return false;
      Add(track.audio ? Segment::silence : Segment::data, bytes);
      startAt_ = static_cast<int64_t>(bytes);
      startLine_ = tok_.line;
    } else if (key == "START") {
      startLine_ = tok_.line;
      Advance();
      uint64_t bytes = cursor_ - trackBegin_;
      if (tok_.kind == Token::word && tok_.text.find(':') != std::string::npos &&
          !Length(unit, kSectorBytes, &bytes))
        return false;
      startAt_ = static_cast<int64_t>(bytes);
    } else if (key == "INDEX") {
      Advance();
      uint64_t bytes = 0;
      if (!Length(unit, kSectorBytes, &bytes)) return false;
    } else if (key == "SILENCE" || key == "ZERO") {
      Advance();
      if (key == "ZERO" && tok_.kind == Token::word &&
          !std::isdigit(static_cast<unsigned char>(tok_.text[0])))
        Advance();  // data mode
      uint64_t bytes = 0;
      if (!Length(unit, kSectorBytes, &bytes)) return false;
      Add(track.audio ? Segment::silence : Segment::data, bytes);
    } else if (key == "FILE" || key == "AUDIOFILE" || key == "DATAFILE") {
      const bool dataFile = key == "DATAFILE";
      const int line = tok_.line;
      Advance();
      if (tok_.kind != Token::string) return Err(key + " needs a quoted name");
      std::string name = tok_.text;
      Advance();
      bool swap = false;
      uint64_t offset = 0;
      if (IsWord("SWAP")) swap = true, Advance();
      if (tok_.kind == Token::word && tok_.text[0] == '#') {
        uint64_t v = 0;
        for (size_t k = 1; k < tok_.text.size(); ++k) {
          if (!std::isdigit(static_cast<unsigned char>(tok_.text[k])) || k > 15)
            return Err("bad byte offset " + tok_.text);
          v = v * 10 + static_cast<uint64_t>(tok_.text[k] - '0');
        }
        offset = v;
        Advance();
      }
      if (IsWord("SWAP")) swap = true, Advance();
      if (!dataFile && !track.audio) return Err(key + " in a data track (DATAFILE holds data)");
      // Raw audio (FILE, AUDIOFILE or DATAFILE) is big-endian samples unless SWAP is given;
      // wave files hold little-endian samples.
      bool wave = name.size() >= 4 && Upper(name.substr(name.size() - 4)) == ".WAV";
      FileType type = wave ? FileType::wave : FileType::binary;
      FileInfo info;
      std::string why;
      if (!probe_(name, type, &info, &why))
        return sheet::Fail(error_, line, key + " \"" + name + "\": " + why);
      bool bigEndian = !wave;
      uint64_t start = 0;
      if (!dataFile) {
        if (tok_.kind != Token::word || !std::isdigit(static_cast<unsigned char>(tok_.text[0])))
          return Err(key + " needs a start position");
        if (!Length(4, kSectorBytes, &start)) return false;
      }
      uint64_t fileStart = offset + start;
      if (fileStart > info.dataBytes)
        return sheet::Fail(error_, line,
                           key + " \"" + name + "\": the start lies beyond the end of the file");
      uint64_t avail = info.dataBytes - fileStart;
      uint64_t len = avail;
      bool msf = tok_.kind == Token::word && tok_.text.find(':') != std::string::npos;
      if (tok_.kind == Token::word &&
          (msf || std::isdigit(static_cast<unsigned char>(tok_.text[0])))) {
        if (!Length(dataFile && !msf ? 1 : unit, track.audio ? kSectorBytes : modeBytes_, &len))
          return false;
        if (len > avail)
          return sheet::Fail(error_, line,
                             key + " \"" + name + "\": the length runs past the end of the file");
      }
      L_.files.push_back(info);
      int index = static_cast<int>(L_.files.size()) - 1;
      if (track.audio) {
        Add(Segment::file, len, index, fileStart, bigEndian != swap);
      } else {
        uint64_t sectors = (len + modeBytes_ - 1) / modeBytes_;
        Add(Segment::data, sectors * kSectorBytes);
      }
    } else if (key == "FIFO") {
      return Err("FIFO is not supported");
    } else {
      return Err("unknown keyword " + tok_.text + " in TRACK");
    }
  }
  return true;
}

bool TocReader::Run() {
  while (tok_.kind != Token::end && !IsWord("TRACK")) {
    if (IsWord("CD_DA") || IsWord("CD_ROM") || IsWord("CD_ROM_XA") || IsWord("CD_I")) {
      Advance();
    } else if (IsWord("CATALOG")) {
      Advance();
      if (tok_.kind != Token::string) return Err("CATALOG needs a quoted number");
      L_.catalog = tok_.text;
      Advance();
    } else if (IsWord("CD_TEXT")) {
      if (!CdText(nullptr)) return false;
    } else {
      return Err("unexpected " + (tok_.text.empty() ? std::string("text") : tok_.text) +
                 " before the first TRACK");
    }
  }
  while (IsWord("TRACK"))
    if (!Track()) return false;
  if (tok_.kind != Token::end) return Err("unexpected text");
  if (L_.tracks.empty()) return Err("the table of contents names no TRACK");
  if (!EndTrack()) return false;
  L_.leadout = static_cast<int32_t>(cursor_ / kSectorBytes);
  return true;
}

}  // namespace

bool ParseTocFile(std::string_view text, const FileProbe& probe, ImageLayout* out,
                  std::string* error) {
  *out = {};
  TocReader reader(text, probe, out, error);
  return reader.Run();
}

}  // namespace cdda
