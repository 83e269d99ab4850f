// Cue sheets and cdrdao tables of contents as rippers and burners write them, read into the
// disc layout (no files: the probe gives their sizes), and the sheets that are refused.
#include <gtest/gtest.h>

#include <map>

#include "ImageSheet.h"

using namespace cdda;

namespace {

constexpr uint64_t kS = kSectorBytes;

struct Sheet {
  std::map<std::string, uint64_t> sizes;  // file name -> bytes of audio
  std::map<std::string, std::string> refused;
  ImageLayout layout;
  std::string error;

  FileProbe Probe() {
    return [this](const std::string& name, FileType, FileInfo* info, std::string* why) {
      if (refused.count(name)) return *why = refused[name], false;
      auto it = sizes.find(name);
      if (it == sizes.end()) return *why = "file not found", false;
      info->path = name;
      info->dataBytes = it->second;
      return true;
    };
  }
  bool Cue(const std::string& text) { return ParseCueSheet(text, Probe(), &layout, &error); }
  bool Toc(const std::string& text) { return ParseTocFile(text, Probe(), &layout, &error); }

  // "start-end" of every track as ripped (index 1 to the end of its range), pregaps as "p:N".
  std::string Ranges() const {
    std::string out;
    for (size_t i = 0; i < layout.tracks.size(); ++i) {
      const ImageTrack& t = layout.tracks[i];
      out += std::to_string(t.number) + (t.audio ? ":" : "d:");
      if (t.pregap >= 0) out += "p" + std::to_string(t.pregap) + ",";
      out += std::to_string(t.start) + "-" + std::to_string(layout.TrackEnd(i)) + " ";
    }
    return out + "/" + std::to_string(layout.leadout);
  }
};

// Every disc sector lies in exactly one segment, in order.
void ExpectContiguous(const ImageLayout& L) {
  uint64_t at = 0;
  for (const Segment& s : L.segments) {
    EXPECT_EQ(s.first, at);
    at += s.bytes;
  }
  EXPECT_EQ(at, static_cast<uint64_t>(L.leadout) * kS);
}

}  // namespace

// One image file with gaps and the disc's text, upper case, CR LF, as a secure ripper writes it
// for "single file with gaps".
TEST(CueSheet, SingleFileWithGapsAndText) {
  Sheet s;
  s.sizes["Band - Album.bin"] = 1000 * kS;
  ASSERT_TRUE(
      s.Cue("REM GENRE \"Alternative Rock\"\r\nREM DATE 1997\r\nREM DISCID 8A0A5B0C\r\n"
            "REM COMMENT \"ExactAudioCopy v1.6\"\r\nCATALOG 0724385583021\r\n"
            "PERFORMER \"The Band\"\r\nTITLE \"The Album\"\r\n"
            "FILE \"Band - Album.bin\" BINARY\r\n"
            "  TRACK 01 AUDIO\r\n    TITLE \"Intro\"\r\n    PERFORMER \"The Band\"\r\n"
            "    ISRC GBAYE9700001\r\n    FLAGS DCP PRE\r\n    INDEX 01 00:00:00\r\n"
            "  TRACK 02 AUDIO\r\n    TITLE \"Second, \"the\" song\"\r\n"
            "    INDEX 00 00:04:00\r\n    INDEX 01 00:05:20\r\n    INDEX 02 00:07:00\r\n"
            "  TRACK 03 AUDIO\r\n    INDEX 01 00:10:00\r\n"))
      << s.error;
  EXPECT_EQ(s.Ranges(), "1:0-395 2:p300,395-750 3:750-1000 /1000");
  EXPECT_EQ(s.layout.catalog, "0724385583021");
  EXPECT_EQ(s.layout.performer, "The Band");
  EXPECT_EQ(s.layout.title, "The Album");
  EXPECT_EQ(s.layout.genre, "Alternative Rock");
  EXPECT_EQ(s.layout.tracks[0].isrc, "GBAYE9700001");
  EXPECT_TRUE(s.layout.tracks[0].copy);
  EXPECT_TRUE(s.layout.tracks[0].preEmphasis);
  EXPECT_EQ(s.layout.tracks[1].title, "Second, \"the\" song");
  ExpectContiguous(s.layout);
}

// Lower-case keywords, a byte order mark, LF line ends, an unquoted name with spaces, a
// name in a sub-folder written with backslashes: the same disc.
TEST(CueSheet, AnyCaseBomAndUnquotedNames) {
  Sheet s;
  s.sizes["my disc.bin"] = 500 * kS;
  ASSERT_TRUE(
      s.Cue("\xEF\xBB\xBF"
            "file my disc.bin binary\n  track 1 audio\n"
            "    title Plain words\n    index 01 00:00:00\n"
            "  Track 02 Audio\n    Index 00 00:02:00\n    Index 01 00:03:00\n"))
      << s.error;
  EXPECT_EQ(s.Ranges(), "1:0-225 2:p150,225-500 /500");
  EXPECT_EQ(s.layout.tracks[0].title, "Plain words");
}

// One file per track, the gap at the end of the previous file (what rippers write when gaps
// are appended to the previous track): track 2's INDEX 00 lies in track 1's file.
TEST(CueSheet, FilePerTrackGapsAppended) {
  Sheet s;
  s.sizes["01.wav"] = 400 * kS;
  s.sizes["02.wav"] = 300 * kS;
  s.sizes["03.wav"] = 200 * kS + 1000;  // not a whole number of sectors: padded with silence
  ASSERT_TRUE(
      s.Cue("FILE \"01.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
            "  TRACK 02 AUDIO\n    INDEX 00 00:05:00\n"
            "FILE \"02.wav\" WAVE\n    INDEX 01 00:00:00\n"
            "  TRACK 03 AUDIO\n    INDEX 00 00:03:00\n"
            "FILE \"03.wav\" WAVE\n    INDEX 01 00:00:00\n"))
      << s.error;
  EXPECT_EQ(s.Ranges(), "1:0-400 2:p375,400-700 3:p625,700-901 /901");
  ASSERT_EQ(s.layout.files.size(), 3u);
  ExpectContiguous(s.layout);
  // The last sector: 1000 bytes of the file, then silence.
  const Segment& last = s.layout.segments[s.layout.segments.size() - 2];
  EXPECT_EQ(last.kind, Segment::file);
  EXPECT_EQ(last.bytes, 200 * kS + 1000);
  EXPECT_EQ(s.layout.segments.back().kind, Segment::silence);
  EXPECT_EQ(s.layout.segments.back().bytes, kS - 1000);
}

// One file per track with the gaps left out: PREGAP and POSTGAP add silence that no file holds.
TEST(CueSheet, PregapAndPostgapAddSilence) {
  Sheet s;
  s.sizes["a.bin"] = 100 * kS;
  s.sizes["b.bin"] = 50 * kS;
  ASSERT_TRUE(
      s.Cue("FILE \"a.bin\" BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n"
            "FILE \"b.bin\" MOTOROLA\nTRACK 02 AUDIO\nPREGAP 00:02:00\n"
            "INDEX 01 00:00:00\nPOSTGAP 00:01:00\n"))
      << s.error;
  EXPECT_EQ(s.Ranges(), "1:0-250 2:p100,250-375 /375");
  ExpectContiguous(s.layout);
  ASSERT_EQ(s.layout.segments.size(), 4u);
  EXPECT_EQ(s.layout.segments[1].kind, Segment::silence);
  EXPECT_TRUE(s.layout.segments[2].swap);  // MOTOROLA: big-endian samples
  EXPECT_FALSE(s.layout.segments[0].swap);
  EXPECT_EQ(s.layout.segments[3].kind, Segment::silence);
}

// The hidden track before track 1 (INDEX 01 after the start of the file), and the audio track
// before a data track that ends at the data track's pregap.
TEST(CueSheet, HiddenTrackAndDataTrackPregap) {
  Sheet s;
  s.sizes["disc.bin"] = 1000 * kS;
  ASSERT_TRUE(
      s.Cue("FILE \"disc.bin\" BINARY\nTRACK 01 AUDIO\nINDEX 00 00:00:00\n"
            "INDEX 01 00:02:00\nTRACK 02 AUDIO\nINDEX 01 00:05:00\n"
            "TRACK 03 MODE1/2352\nINDEX 00 00:08:00\nINDEX 01 00:10:00\n"))
      << s.error;
  EXPECT_EQ(s.Ranges(), "1:p0,150-375 2:375-600 3d:p600,750-1000 /1000");
  // A data track's pregap set by PREGAP alone counts the same.
  Sheet p;
  p.sizes["disc.bin"] = 1000 * kS;
  ASSERT_TRUE(
      p.Cue("FILE \"disc.bin\" BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n"
            "TRACK 02 MODE1/2352\nPREGAP 00:02:00\nINDEX 01 00:08:00\n"))
      << p.error;
  EXPECT_EQ(p.Ranges(), "1:0-600 2d:p600,750-1150 /1150");
  EXPECT_EQ(p.layout.segments[1].kind, Segment::data);
}

// An enhanced disc: audio in session 1, data in session 2. The last audio track ends before
// the session gap; data sectors of 2048 bytes in their own file.
TEST(CueSheet, EnhancedDiscWithSessions) {
  Sheet s;
  s.sizes["audio.bin"] = 600 * kS;
  s.sizes["data.iso"] = 300 * 2048;
  ASSERT_TRUE(
      s.Cue("REM SESSION 01\nFILE \"audio.bin\" BINARY\n  TRACK 01 AUDIO\n"
            "    INDEX 01 00:00:00\n  TRACK 02 AUDIO\n    INDEX 01 00:04:00\n"
            "REM SESSION 02\nFILE \"data.iso\" BINARY\n  TRACK 03 MODE1/2048\n"
            "    INDEX 01 00:00:00\n"))
      << s.error;
  EXPECT_EQ(s.Ranges(), "1:0-300 2:300-600 3d:12000-12300 /12300");
  EXPECT_EQ(s.layout.tracks[2].session, 2);
  ExpectContiguous(s.layout);
}

// A mixed-mode disc: data first (2048-byte sectors in the same file as the audio).
TEST(CueSheet, MixedModeSectorSizes) {
  Sheet s;
  s.sizes["mixed.bin"] = 100 * 2048 + 200 * kS;
  ASSERT_TRUE(
      s.Cue("FILE \"mixed.bin\" BINARY\nTRACK 01 MODE1/2048\nINDEX 01 00:00:00\n"
            "TRACK 02 AUDIO\nINDEX 00 00:01:25\nINDEX 01 00:03:25\n"))
      << s.error;
  EXPECT_EQ(s.Ranges(), "1d:0-250 2:p100,250-300 /300");
  // The audio starts after the data track's bytes.
  const Segment& audio = s.layout.segments[1];
  EXPECT_EQ(audio.kind, Segment::file);
  EXPECT_EQ(audio.fileOffset, 100u * 2048);
}

TEST(CueSheet, RefusedWithReasonAndLine) {
  struct Case {
    const char* text;
    const char* error;
  } cases[] = {
      {"FILE \"gone.bin\" BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n",
       "line 1: FILE \"gone.bin\": file not found"},
      {"FILE \"a.bin\" BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\nFILE \"bad.wav\" WAVE\n",
       "line 4: FILE \"bad.wav\": holds no 16-bit stereo 44100 Hz PCM"},
      {"FILE \"a.bin\" AIFF\n",
       "line 1: FILE type AIFF is not supported (BINARY, MOTOROLA or WAVE)"},
      {"TRACK 01 AUDIO\n", "line 1: TRACK before any FILE"},
      {"FILE \"a.bin\" BINARY\nTRACK 01 AUDIO\nTRACK 02 AUDIO\nINDEX 01 00:00:00\n",
       "line 2: TRACK 1 has no INDEX 01"},
      {"FILE \"a.bin\" BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\nTRACK 02 AUDIO\nINDEX 01 "
       "00:09:00\n",
       "line 5: INDEX lies beyond the end of the FILE"},
      {"FILE \"a.bin\" BINARY\nTRACK 01 AUDIO\nINDEX 01 00:01:00\nTRACK 02 AUDIO\nINDEX 01 "
       "00:00:10\n",
       "line 5: INDEX is earlier than the INDEX before it"},
      {"FILE \"a.bin\" BINARY\nTRACK 01 AUDIO\nINDEX 01 00:60:00\n",
       "line 3: INDEX needs a time mm:ss:ff"},
      {"FILE \"a.bin\" BINARY\nTRACK 02 AUDIO\nINDEX 01 00:00:00\nTRACK 02 AUDIO\n",
       "line 4: TRACK numbers must increase"},
      {"FILE \"a.bin\" BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\nPREGAP 00:02:00\n",
       "line 4: PREGAP must come before the track's INDEX lines"},
      {"FILE \"a.bin\" BINARY\nTRACK 01 CDG\n", "line 2: TRACK mode CDG is not supported"},
      {"FILE \"a.bin\" BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\nSTART 00:00:00\n",
       "line 4: unknown command START"},
      {"REM only a comment\n", "line 1: the sheet names no TRACK"},
      // A track with INDEX 00 and 02 but no 01 (found by the fuzzer: its start was taken as 0).
      {"FILE \"a.bin\" BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\nTRACK 02 AUDIO\n"
       "INDEX 00 00:01:00\nINDEX 02 00:02:00\n",
       "line 6: INDEX 2 before INDEX 01"},
      {"", "line 0: the sheet names no TRACK"},
  };
  for (const Case& c : cases) {
    Sheet s;
    s.sizes["a.bin"] = 300 * kS;
    s.refused["bad.wav"] = "holds no 16-bit stereo 44100 Hz PCM";
    EXPECT_FALSE(s.Cue(c.text)) << c.text;
    EXPECT_EQ(s.error, c.error) << c.text;
  }
}

// cdrdao: START ends the pregap held in the track's data, PREGAP adds silence before it; the
// positions are those `cdrdao show-toc` prints for the same file (track 2: PREGAP 00:00:02,
// START 00:00:07, END 00:00:10; track 3: PREGAP 00:00:01, START 00:00:11, END 00:00:12).
TEST(TocFile, StartAndPregapAsCdrdaoPlacesThem) {
  Sheet s;
  s.sizes["a.bin"] = 10 * kS;
  ASSERT_TRUE(
      s.Toc("CD_DA\n// made by hand\nTRACK AUDIO\nFILE \"a.bin\" 0 00:00:05\n"
            "TRACK AUDIO\nPREGAP 00:00:02\nFILE \"a.bin\" 00:00:05 00:00:03\n"
            "TRACK AUDIO\nFILE \"a.bin\" 00:00:08\nSTART 00:00:01\n"))
      << s.error;
  EXPECT_EQ(s.Ranges(), "1:0-7 2:p5,7-11 3:p10,11-12 /12");
  ExpectContiguous(s.layout);
  // Raw audio files hold big-endian samples.
  EXPECT_TRUE(s.layout.segments[0].swap);
}

// What a reading tool writes: the disc's text, flags, ISRC, SILENCE, SWAP, byte offsets, a data
// track from a DATAFILE, sample counts, and keywords in any case.
TEST(TocFile, TextFlagsAndSources) {
  Sheet s;
  s.sizes["data.bin"] = 400 * kS;
  s.sizes["t.wav"] = 100 * kS;
  ASSERT_TRUE(
      s.Toc("CD_ROM\nCATALOG \"0123456789012\"\n"
            "CD_TEXT {\n  LANGUAGE_MAP { 0 : EN }\n  LANGUAGE 0 {\n    TITLE \"Album \\\"X\\\"\"\n"
            "    PERFORMER \"Band\"\n    SIZE_INFO { 1, 2, 3 }\n  }\n}\n"
            "TRACK MODE1_RAW\nDATAFILE \"data.bin\" 00:02:00\n"
            "TRACK AUDIO\nNO COPY\nPRE_EMPHASIS\nTWO_CHANNEL_AUDIO\nISRC \"DEA123456789\"\n"
            "CD_TEXT { LANGUAGE 0 { TITLE \"Song\" PERFORMER \"Singer\" } }\n"
            "SILENCE 00:01:00\nSTART\nFILE \"data.bin\" SWAP #352800 0 44100\n"
            "track audio\nfile \"t.wav\" 0\n"))
      << s.error;
  EXPECT_EQ(s.Ranges(), "1d:0-225 2:p150,225-300 3:300-400 /400");
  EXPECT_EQ(s.layout.title, "Album \"X\"");
  EXPECT_EQ(s.layout.performer, "Band");
  EXPECT_EQ(s.layout.catalog, "0123456789012");
  const ImageTrack& t = s.layout.tracks[1];
  EXPECT_EQ(t.title, "Song");
  EXPECT_EQ(t.performer, "Singer");
  EXPECT_EQ(t.isrc, "DEA123456789");
  EXPECT_TRUE(t.preEmphasis);
  EXPECT_FALSE(t.copy);
  // 44100 samples from byte 352800 (150 sectors), little-endian (SWAP); the wave too.
  const Segment& seg = s.layout.segments[2];
  EXPECT_EQ(seg.kind, Segment::file);
  EXPECT_EQ(seg.fileOffset, 150 * kS);
  EXPECT_EQ(seg.bytes, 44100u * 4);
  EXPECT_FALSE(seg.swap);
  EXPECT_FALSE(s.layout.segments.back().swap);
}

TEST(TocFile, RefusedWithReasonAndLine) {
  struct Case {
    const char* text;
    const char* error;
  } cases[] = {
      {"CD_DA\nTRACK AUDIO\nFILE \"gone.bin\" 0\n", "line 3: FILE \"gone.bin\": file not found"},
      {"CD_DA\nTRACK AUDIO\nFILE \"a.bin\" 0 00:05:00\n",
       "line 3: FILE \"a.bin\": the length runs past the end of the file"},
      {"CD_DA\nTRACK AUDIO RW\n", "line 2: sub-channel data is not supported"},
      {"CD_DA\nTRACK MODE3\n", "line 2: TRACK mode MODE3 is not supported"},
      {"CD_DA\nTRACK AUDIO\nFILE \"a.bin\" 0\nSTART 00:09:00\n",
       "line 4: START lies beyond the end of the track"},
      {"CD_DA\nTRACK MODE1\nFILE \"a.bin\" 0\n",
       "line 3: FILE in a data track (DATAFILE holds data)"},
      {"CD_DA\nCD_TEXT {\n LANGUAGE 0 {\n TITLE \"x\"\n", "a CD-Text field name is missing"},
      {"CD_DA\n", "line 2: the table of contents names no TRACK"},
      {"CD_DA\nTRACK AUDIO\nBOGUS\n", "line 3: unknown keyword BOGUS in TRACK"},
  };
  for (const Case& c : cases) {
    Sheet s;
    s.sizes["a.bin"] = 300 * kS;
    EXPECT_FALSE(s.Toc(c.text)) << c.text;
    EXPECT_NE(s.error.find(c.error), std::string::npos) << c.text << " -> " << s.error;
  }
}
