#include "PartialFile.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "Exception.h"
#include "TestFiles.h"

using qltest::ReadFile;
using qltest::TempDir;
using qltest::WriteFile;
namespace fs = std::filesystem;

namespace {
std::vector<std::string> Names(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}
}  // namespace

TEST(PartialFile, TheFinalNameChangesOnlyAtCommit) {
  TempDir dir;
  WriteFile(dir / "out.wav", "earlier");
  {
    ql::PartialFile f(dir / "out.wav");
    EXPECT_EQ(fs::path(f.TempPath()).parent_path(), fs::path(dir.path()));
    std::string temp = fs::path(f.TempPath()).filename().string();
    EXPECT_EQ(temp[0], '.');
    EXPECT_TRUE(ql::IsPartialName(temp)) << temp;
    f.Write("new contents", 12);
    EXPECT_EQ(ReadFile(dir / "out.wav"), "earlier");
    f.Commit();
    EXPECT_FALSE(fs::exists(temp));
  }
  EXPECT_EQ(ReadFile(dir / "out.wav"), "new contents");
  EXPECT_EQ(Names(dir.path()), std::vector<std::string>{"out.wav"});

  // Abandoned, explicitly or by the destructor: the earlier file stays, nothing else remains.
  {
    ql::PartialFile f(dir / "out.wav");
    f.Write("lost", 4);
    f.Abandon();
    ql::PartialFile g(dir / "out.wav");
    g.Write("lost too", 8);
  }
  EXPECT_EQ(ReadFile(dir / "out.wav"), "new contents");
  EXPECT_EQ(Names(dir.path()), std::vector<std::string>{"out.wav"});
}

TEST(PartialFile, ATemporaryForAProgramKeepsTheOutputsExtension) {
  TempDir dir;
  ql::PartialFile f(dir / "01 Song.mp3", true);
  const std::string temp = fs::path(f.TempPath()).filename().string();
  EXPECT_EQ(temp.rfind(".01 Song.mp3.", 0), 0u) << temp;
  EXPECT_EQ(temp.substr(temp.size() - 11), ".qlpart.mp3") << temp;
  EXPECT_TRUE(ql::IsPartialName(temp));
  // No extension, or none a program could read as one: the plain form.
  ql::PartialFile g(dir / "Song. Live!", true), h(dir / "noext", true);
  for (auto* p : {&g, &h}) {
    const std::string t = fs::path(p->TempPath()).filename().string();
    EXPECT_EQ(t.substr(t.size() - 7), ".qlpart") << t;
  }
  f.Write("mp3", 3);
  f.Commit();
  EXPECT_EQ(ReadFile(dir / "01 Song.mp3"), "mp3");
}

TEST(PartialFile, KeepsPermissionsAndWritesThroughSymbolicLinks) {
  TempDir dir;
  fs::create_directory(dir / "real");
  WriteFile(dir / "real/target.ini", "old");
  chmod((dir / "real/target.ini").c_str(), 0600);
  fs::create_symlink("real/target.ini", dir / "link.ini");
  ql::PartialFile f(dir / "link.ini");
  EXPECT_EQ(fs::path(f.TargetPath()), fs::path(dir / "real/target.ini"));
  f.Write("new", 3);
  f.Commit();
  EXPECT_TRUE(fs::is_symlink(dir / "link.ini"));
  EXPECT_EQ(ReadFile(dir / "real/target.ini"), "new");
  struct stat st {};
  ASSERT_EQ(stat((dir / "real/target.ini").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  // A dangling link: the file is made where it points.
  fs::create_symlink("real/made.txt", dir / "dangling");
  ql::PartialFile g(dir / "dangling");
  g.Commit();
  EXPECT_TRUE(fs::is_regular_file(dir / "real/made.txt"));
  EXPECT_TRUE(fs::is_symlink(dir / "dangling"));
}

TEST(PartialFile, DevicesPipesAndFoldersAreRefusedByName) {
  TempDir dir;
  ASSERT_EQ(mkfifo((dir / "pipe").c_str(), 0600), 0);
  fs::create_symlink("/dev/null", dir / "null-link");
  for (const std::string& name :
       {std::string("/dev/null"), dir / "pipe", dir / "null-link", dir.path()}) {
    try {
      ql::PartialFile f(name);
      ADD_FAILURE() << name << " was accepted";
    } catch (const EInOutError& e) {
      EXPECT_NE(std::string(e.what()).find(name), std::string::npos) << e.what();
    }
  }
  EXPECT_EQ(Names(dir.path()), (std::vector<std::string>{"null-link", "pipe"}));
}

TEST(PartialFile, ALongNameShortensTheTemporaryNotTheTarget) {
  TempDir dir;
  // 254 bytes ending in a two-byte character that a plain byte cut would split.
  std::string name = std::string(250, 'a') + "\xC3\xA9" + "bb";
  ql::PartialFile f(dir / name);
  std::string temp = fs::path(f.TempPath()).filename().string();
  EXPECT_LE(temp.size(), 255u);
  EXPECT_TRUE(ql::IsPartialName(temp));
  f.Commit();
  EXPECT_TRUE(fs::exists(dir / name));
}

TEST(PartialFile, ASignalRemovesLiveTemporariesAndTheProcessDiesOfIt) {
  TempDir dir;
  WriteFile(dir / "keep.wav", "earlier");
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      ql::InstallSignalCleanup();
      ql::PartialFile a(dir / "keep.wav"), b(dir / "other.wav");
      a.Write("half", 4);
      (void)!write(ready[1], "x", 1);
      for (;;) pause();
    }
    char c;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    close(ready[0]);
    close(ready[1]);
    EXPECT_EQ(Names(dir.path()).size(), 3u);  // keep.wav and two temporaries
    kill(child, sig);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << status;
    EXPECT_EQ(Names(dir.path()), std::vector<std::string>{"keep.wav"});
    EXPECT_EQ(ReadFile(dir / "keep.wav"), "earlier");
  }
}

TEST(PartialFile, LeftoversOfDeadProcessesAreRemovedOthersKept) {
  TempDir dir;
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ql::PartialFile f(dir / "track01.wav");
    f.Write("partial", 7);
    // One an encoder writes, named with the output's extension.
    ql::PartialFile g(dir / "track01.mp3", true);
    kill(getpid(), SIGKILL);  // no cleanup at all
    _exit(0);
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_EQ(Names(dir.path()).size(), 2u);
  for (const auto& n : Names(dir.path())) EXPECT_TRUE(ql::IsPartialName(n)) << n;
  ql::PartialFile mine(dir / "track02.wav");           // this process is alive
  WriteFile(dir / ".init.1-1.qlpart", "x");            // pid 1 is alive
  WriteFile(dir / ".notes.txt", "x");                  // not a temporary
  WriteFile(dir / "x.999999999-1.qlpart", "x");        // not hidden: not ours
  WriteFile(dir / ".a.999999999-1.qlpart.m p3", "x");  // not an extension the temporaries get
  EXPECT_EQ(ql::RemoveLeftovers(dir.path()), 2);
  auto names = Names(dir.path());
  EXPECT_EQ(names.size(), 5u);
  for (const auto& n : names) EXPECT_EQ(n.find(".track01."), std::string::npos) << n;
  EXPECT_TRUE(fs::exists(mine.TempPath()));
}
