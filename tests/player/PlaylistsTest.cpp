// Play lists as other programs write them.
#include "Playlists.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "Exception.h"
#include "TestFiles.h"

using qltest::TempDir;
using qltest::WriteFile;

TEST(Playlists, ExtendedM3uWithRelativeAbsoluteAndUrlEntries) {
  // As a player writes it: a byte order mark, CR LF, #EXTINF lines, blank lines.
  std::string text =
      "\xEF\xBB\xBF#EXTM3U\r\n#EXTINF:123,Artist - One\r\n01 One.mp3\r\n\r\n"
      "#EXTINF:-1,Radio\r\nhttp://radio.example/stream\r\n/music/abs.wav\r\n"
      "file:///music/with%20blank.ogg\r\nsub/two.flac  \r\n";
  EXPECT_EQ(
      player::ParseM3u(text, "/lists"),
      (std::vector<std::string>{"/lists/01 One.mp3", "http://radio.example/stream",
                                "/music/abs.wav", "/music/with blank.ogg", "/lists/sub/two.flac"}));
  // Written on Windows: backslashes separate folders.
  EXPECT_EQ(player::ParseM3u("Album\\03.mp3\n", "/l"),
            (std::vector<std::string>{"/l/Album/03.mp3"}));
  EXPECT_TRUE(player::ParseM3u("", "/l").empty());
  EXPECT_TRUE(player::ParseM3u("#EXTM3U\n\n# only comments\n", "/l").empty());
}

TEST(Playlists, PlsEntriesInTheOrderOfTheirNumbers) {
  std::string text =
      "[playlist]\nFile2=b.mp3\nTitle2=B\nFile1=/abs/a.mp3\nfile10=j.mp3\nFileX=bad.mp3\n"
      "File3=\nNumberOfEntries=3\nVersion=2\n";
  EXPECT_EQ(player::ParsePls(text, "/d"),
            (std::vector<std::string>{"/abs/a.mp3", "/d/b.mp3", "/d/j.mp3"}));
}

TEST(Playlists, FilesAreReadByTheirNameAndSpecialFilesRefused) {
  TempDir dir;
  WriteFile(dir / "l.M3U8", "x.mp3\n");
  WriteFile(dir / "l.pls", "[playlist]\nFile1=y.mp3\n");
  EXPECT_TRUE(player::IsPlaylistName(dir / "l.M3U8"));
  EXPECT_FALSE(player::IsPlaylistName(dir / "l.mp3"));
  EXPECT_EQ(player::ReadPlaylist(dir / "l.M3U8"), (std::vector<std::string>{dir / "x.mp3"}));
  EXPECT_EQ(player::ReadPlaylist(dir / "l.pls"), (std::vector<std::string>{dir / "y.mp3"}));
  EXPECT_THROW(player::ReadPlaylist(dir / "missing.m3u"), EInOutError);
  std::string fifo = dir / "pipe.m3u";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  try {
    player::ReadPlaylist(fifo);  // must not wait for a writer
    FAIL();
  } catch (const EInOutError& e) {
    EXPECT_NE(std::string(e.what()).find(fifo), std::string::npos);
  }
}
