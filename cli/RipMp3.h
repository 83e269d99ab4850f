#pragma once
// The MP3 end of `trackwell rip`: the --mp3 options and the encoder that ends the recording
// chain in place of the wave file.
#include <memory>
#include <string>
#include <vector>

#include "MMBlade.h"
#include "RipNames.h"

namespace trackwell {

struct Mp3Options {
  bool on = false;
  TMMBitrates bitrate = br128;
  TMMChannelMode channelMode = cmStereo;
  TMMFileType fileType = ftRAW;
  bool crc = false, copyright = false, original = false, privat = false;
  bool encoderOptionSeen = false;  // any option that needs --mp3
};

extern const char* const kMp3Usage;

// Takes the option at args[i] when it is one of the MP3 options; returns 1 taken, 0 not one of
// them, -1 a usage error (message set).
int Mp3Option(const std::vector<std::string>& args, std::size_t& i, Mp3Options& o,
              std::string& error);
// After the whole command line: the encoder options without --mp3 are a usage error.
bool CheckMp3Options(const Mp3Options& o, std::string& error);

// The tags of the track at position (in the table of contents) numbered number on a disc whose
// last track is count: the disc's artist, title, year and genre, the track's name, number and
// ISRC.
TMMMP3Tags TrackTags(const DiscNames& names, int position, int number, int count);

// The encoder for the options, writing to fileName.
std::unique_ptr<TMMMP3Encoder> MakeMp3Encoder(const Mp3Options& o, const std::string& fileName);

}  // namespace trackwell
