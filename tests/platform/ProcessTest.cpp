#include "Process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "TestFiles.h"

using ql::process::SplitCommandLine;
using V = std::vector<std::string>;

TEST(Process, CommandLinesSplitByTheWindowsRules) {
  EXPECT_EQ(SplitCommandLine("prog a b"), (V{"prog", "a", "b"}));
  EXPECT_EQ(SplitCommandLine("  \"/opt/my enc/enc\"  -b 192  \" /out/a b.wav \"   \"/x.mp3\"  "),
            (V{"/opt/my enc/enc", "-b", "192", " /out/a b.wav ", "/x.mp3"}));
  EXPECT_EQ(SplitCommandLine(R"(p a\\\"b c\\"d e" f\\g)"),
            (V{"p", R"(a\"b)", R"(c\d e)", R"(f\\g)"}));
  EXPECT_EQ(SplitCommandLine(R"(p "say ""hi""" x)"), (V{"p", R"(say "hi")", "x"}));
  EXPECT_EQ(SplitCommandLine(R"(p "" x)"), (V{"p", "", "x"}));
  EXPECT_EQ(SplitCommandLine(R"("C:\dir\" x)"),
            (V{R"(C:\dir\)", "x"}));  // the program has no escapes
  EXPECT_EQ(SplitCommandLine("p\ta\t\tb"), (V{"p", "a", "b"}));
  EXPECT_TRUE(SplitCommandLine("   ").empty());
}

TEST(Process, ProgramsRunDirectlyWithTheirArgumentsAndExitStatus) {
  qltest::TempDir dir;
  std::string script = dir / "show args.sh";
  qltest::WriteFile(
      script, "#!/bin/sh\nfor a in \"$@\"; do printf '[%s]' \"$a\"; done > \"$OUT\"\nexit 7\n");
  chmod(script.c_str(), 0755);
  setenv("OUT", (dir / "out.txt").c_str(), 1);
  EXPECT_EQ(ql::process::Run("\"" + script + "\" one \"two words\" '$HOME' ;x"), 7);
  // No shell: quotes, dollars and semicolons arrive as written.
  EXPECT_EQ(qltest::ReadFile(dir / "out.txt"), "[one][two words]['$HOME'][;x]");
  EXPECT_EQ(ql::process::Run("\"" + (dir / "missing") + "\" a"), -1);
  EXPECT_EQ(ql::process::Run(""), -1);
  unsetenv("OUT");
}

TEST(Process, ChildrenInheritOnlyStandardInputOutputAndError) {
  qltest::TempDir dir;
  // A descriptor opened without close-on-exec, as a library might leave one.
  int leaked = open((dir / "held").c_str(), O_CREAT | O_WRONLY, 0644);
  ASSERT_GE(leaked, 3);
  std::string fd = std::to_string(leaked);
  std::string out = dir / "out.txt";
  ASSERT_EQ(ql::process::Run(std::vector<std::string>{
                "/bin/sh", "-c",
                "for n in 0 1 2 " + fd + "; do [ -e /proc/$$/fd/$n ] && printf '%s ' $n; done > '" +
                    out + "'; exit 0"}),
            0);
  EXPECT_EQ(qltest::ReadFile(out), "0 1 2 ");
  close(leaked);
  // An argument vector reaches the program unchanged; a missing program is -1.
  EXPECT_EQ(ql::process::Run(
                std::vector<std::string>{"/bin/sh", "-c", "exit $#", "x", "a b", "\"c\"\td"}),
            2);
  EXPECT_EQ(ql::process::Run(std::vector<std::string>{dir / "missing"}), -1);
  EXPECT_EQ(ql::process::Run(std::vector<std::string>{}), -1);
}
