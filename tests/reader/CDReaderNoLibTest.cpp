#include <gtest/gtest.h>

#include "MMCDRead.h"
#include "ScriptedUi.h"

// The library is bound by the first reader of a process; these readers never find a usable
// one, so they live in a program of their own.
namespace {
struct NoLibFixture : ::testing::Test {
  ql::ScriptedUi ui;
  void SetUp() override { ql::SetUi(&ui); }
  void TearDown() override { ql::SetUi(nullptr); }
  std::string Construct() {
    try {
      TMMCDReader r;
    } catch (const EMMCDDAError& e) {
      return e.what();
    }
    return "constructed";
  }
};
}  // namespace

TEST_F(NoLibFixture, MissingLibrary) {
  SetCDDALibraryName("/nonexistent/libmmcdda32.so");
  EXPECT_EQ(Construct(), "Unable to load MMCDDA32.DLL");
  ASSERT_EQ(ui.shown.size(), 1u);
  EXPECT_EQ(ui.shown[0].kind, ql::MsgKind::kError);
  EXPECT_EQ(ui.shown[0].text, "Unable to load MMCDDA32.DLL");
}

TEST_F(NoLibFixture, LibraryWithoutVersionEntry) {
  SetCDDALibraryName("libm.so.6");
  EXPECT_EQ(Construct(), "Unable to load MMCDDA32.DLL");
  ASSERT_EQ(ui.shown.size(), 1u);
  EXPECT_EQ(ui.shown[0].text, "Invalid CDDA DLL version");
  // A later reader tries again and finds the real library.
  SetCDDALibraryName("MMCDDA32.DLL");
  EXPECT_EQ(Construct(), "constructed");
}
