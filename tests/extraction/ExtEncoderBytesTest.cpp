// The external encoder dialog's stores hold bytes: lists and keys written by older versions are
// Latin-1, newer ones UTF-8. Both show as the text they are, and a save writes back the very
// bytes it read, so no name, program or argument is corrupted or lost.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <QComboBox>

#include "ExtMP3Encoder.h"
#include "Fs.h"
#include "GuiTest.h"
#include "Profile.h"
#include "TestFiles.h"

using qltest::ReadFile;
using qltest::TempDir;
using qltest::WriteFile;

namespace {

std::vector<std::string> Shown(const QComboBox* box) {
  std::vector<std::string> items;
  for (int i = 0; i < box->count(); ++i) items.push_back(box->itemText(i).toStdString());
  return items;
}

TEST(ExtEncoderBytes, Latin1AndUtf8StoresRoundTripAndTheProgramRuns) {
  TempDir dir;
  const std::string ini = dir / "QuillonTrackwell.ini";
  // A folder whose name is Latin-1 bytes ("café"), with an encoder in it.
  const std::string folder = dir / "caf\xe9";
  ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
  const std::string enc = folder + "/enc";
  WriteFile(enc, "#!/bin/sh\ncp \"$1\" \"$2\"\n");
  chmod(enc.c_str(), 0755);
  const std::string names = "Caf\xe9\r\nM\xc3\xbcller\r\n";
  const std::string programs = enc + "\r\n/usr/bin/m\xc3\xbcller\r\n";
  const std::string args = "--title=\xabQ\xbb $1 $2\r\n$1 $2\r\n";
  WriteFile(dir / "extencname.ini", names);
  WriteFile(dir / "extenc.ini", programs);
  WriteFile(dir / "extencarg.ini", args);
  WriteFile(ini,
            "[Externa MP3 Encoder]\r\nName=Caf\xe9\r\n[Externa MP3 Encoder Caf\xe9]\r\nProgram=" +
                enc + "\r\nArguments=$1 $2\r\n");

  TFormExtMP3Encoder d;
  d.WorkDirectory = dir.path();
  d.LoadEncoder(ini);
  // Shown as the text they are.
  EXPECT_EQ(Shown(d.dfsName), (std::vector<std::string>{"Caf\xc3\xa9", "M\xc3\xbcller"}));
  EXPECT_EQ(Shown(d.dfsArguments),
            (std::vector<std::string>{"--title=\xc2\xabQ\xc2\xbb $1 $2", "$1 $2"}));
  EXPECT_EQ(d.dfsName->currentText().toStdString(), "Caf\xc3\xa9");
  // The name's own section was found, so its program came with it.
  EXPECT_EQ(d.dfsProgram->currentText().toStdString(), dir / "caf\xc3\xa9/enc");

  // Saved unchanged: the very bytes that were read.
  d.pbSaveClick();
  EXPECT_EQ(ReadFile(dir / "extencname.ini"), names);
  EXPECT_EQ(ReadFile(dir / "extenc.ini"), programs);
  EXPECT_EQ(ReadFile(dir / "extencarg.ini"), args);
  TIniFile store(ini);
  EXPECT_EQ(store.ReadString("Externa MP3 Encoder", "Name", ""), "Caf\xe9");
  EXPECT_EQ(store.ReadString("Externa MP3 Encoder", "Program", ""), enc);
  EXPECT_EQ(store.ReadString("Externa MP3 Encoder Caf\xe9", "Program", ""), enc);
  EXPECT_EQ(store.SectionExists("Externa MP3 Encoder Caf\xc3\xa9"), false);

  // The program at its Latin-1 path runs.
  WriteFile(dir / "t.wav", "RIFF");
  auto result = d.RunEncoder(dir.path(), "t.wav", dir.path(), "t.mp3");
  EXPECT_TRUE(result.ok()) << result.message;
  EXPECT_EQ(ReadFile(dir / "t.mp3"), "RIFF");

  // A name typed now is UTF-8 and joins the list as such; the older entries keep their bytes.
  d.dfsName->setCurrentText(QString::fromUtf8("Na\xc3\xafve"));
  d.pbSaveClick();
  EXPECT_EQ(ReadFile(dir / "extencname.ini"), names + "Na\xc3\xafve\r\n");
  EXPECT_EQ(ReadFile(dir / "extenc.ini"), programs);
  EXPECT_EQ(store.ReadString("Externa MP3 Encoder Na\xc3\xafve", "Program", ""), enc);
}

}  // namespace
