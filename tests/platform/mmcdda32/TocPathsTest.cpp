// File names of cdrdao tables of contents, made absolute against the .toc's folder.
#include <gtest/gtest.h>

#include "TocPaths.h"

using cdda::AbsoluteTocPaths;

TEST(TocPaths, RelativeNamesGetTheFolder) {
  EXPECT_EQ(AbsoluteTocPaths("TRACK AUDIO\nFILE \"a.bin\" 0 00:02:00\n", "/d/"),
            "TRACK AUDIO\nFILE \"/d/a.bin\" 0 00:02:00\n");
  EXPECT_EQ(AbsoluteTocPaths("AUDIOFILE\t\"x/y.wav\" 0\nDATAFILE  \"z.iso\"", "/d/"),
            "AUDIOFILE\t\"/d/x/y.wav\" 0\nDATAFILE  \"/d/z.iso\"");
}

TEST(TocPaths, OtherTextStaysAsItIs) {
  for (const char* text : {
           "FILE \"/abs/a.bin\" 0",  // absolute
           "FILE \"-\" 0",           // standard input
           "FILE \"\" 0",            // empty
           "MYFILE \"a.bin\"",       // not the keyword
           "FILEX \"a.bin\"",
           "FILE\"a.bin\"",  // no blank before the name
           "FILE a.bin",     // not quoted
           "FILE \"",        // cut off
           "FILE",
           "CD_TEXT { TITLE \"FILE \\\"x\\\"\" }",
       })
    EXPECT_EQ(AbsoluteTocPaths(text, "/d/"), text) << text;
}
