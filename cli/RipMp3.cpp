#include "RipMp3.h"

#include <cstdlib>

namespace trackwell {

const char* const kMp3Usage =
    "[--mp3 [--bitrate K] [--channel-mode stereo|dual|mono] [--wave-container] [--crc] "
    "[--copyright] [--original] [--private]]";

int Mp3Option(const std::vector<std::string>& args, std::size_t& i, Mp3Options& o,
              std::string& error) {
  const std::string& a = args[i];
  auto next = [&]() -> const std::string* { return i + 1 < args.size() ? &args[++i] : nullptr; };
  if (a == "--mp3") {
    o.on = true;
    return 1;
  }
  if (a == "--bitrate") {
    const std::string* v = next();
    char* end = nullptr;
    const long k = v ? std::strtol(v->c_str(), &end, 10) : 0;
    if (!v || v->empty() || *end || k < 0 || k > 1000 ||
        !BitrateFromKbps(static_cast<int>(k), o.bitrate))
      return error =
                 "--bitrate is one of 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, "
                 "256, 320 (kbit/s)",
             -1;
  } else if (a == "--channel-mode") {
    const std::string* v = next();
    if (v && *v == "stereo")
      o.channelMode = cmStereo;
    else if (v && *v == "dual")
      o.channelMode = cmDualChannel;
    else if (v && *v == "mono")
      o.channelMode = cmMono;
    else
      return error = "--channel-mode is stereo, dual or mono", -1;
  } else if (a == "--wave-container") {
    o.fileType = ftWAV;
  } else if (a == "--crc") {
    o.crc = true;
  } else if (a == "--copyright") {
    o.copyright = true;
  } else if (a == "--original") {
    o.original = true;
  } else if (a == "--private") {
    o.privat = true;
  } else {
    return 0;
  }
  o.encoderOptionSeen = true;
  return 1;
}

bool CheckMp3Options(const Mp3Options& o, std::string& error) {
  if (o.encoderOptionSeen && !o.on) {
    error =
        "--bitrate, --channel-mode, --wave-container, --crc, --copyright, --original and "
        "--private need --mp3";
    return false;
  }
  return true;
}

TMMMP3Tags TrackTags(const DiscNames& names, int position, int number, int count) {
  TMMMP3Tags t;
  t.Artist = names.artist;
  t.Album = names.title;
  if (position >= 0 && static_cast<std::size_t>(position) < names.tracks.size())
    t.Title = names.tracks[static_cast<std::size_t>(position)];
  t.Track = number;
  t.TrackCount = count;
  t.Year = names.year;
  t.Genre = names.genre;
  if (position >= 0 && static_cast<std::size_t>(position) < names.isrcs.size())
    t.Isrc = names.isrcs[static_cast<std::size_t>(position)];
  return t;
}

std::unique_ptr<TMMMP3Encoder> MakeMp3Encoder(const Mp3Options& o, const std::string& fileName) {
  auto e = std::make_unique<TMMMP3Encoder>();
  e->Name = "MP3Encoder";
  e->SetBitrate(o.bitrate);
  e->SetChannelMode(o.channelMode);
  e->SetFileType(o.fileType);
  e->SetFileName(fileName);
  e->CRC = o.crc;
  e->Copyright = o.copyright;
  e->Original = o.original;
  e->Privat = o.privat;
  return e;
}

}  // namespace trackwell
