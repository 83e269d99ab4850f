// A batch of writes must leave exactly the file that the same writes made one by one leave:
// the batch edits a section's own lines when the section occurs once, and the whole file
// otherwise. Random files and writes, with repeated sections, case variants, comments and
// blank lines, check both paths against each other.
#include <gtest/gtest.h>

#include <random>

#include "Profile.h"
#include "TestFiles.h"

using qltest::ReadFile;
using qltest::TempDir;
using qltest::WriteFile;

namespace {

std::string RandomFile(std::mt19937& rng) {
  const char* sections[] = {"A", "a", "B", "Disc 1", "OPTIONS"};
  const char* keys[] = {"k", "K", "f0", "f1", "name", "x"};
  std::string text;
  const int lines = static_cast<int>(rng() % 30);
  for (int i = 0; i < lines; ++i) {
    switch (rng() % 6) {
      case 0:
        text += std::string("[") + sections[rng() % 5] + "]";
        break;
      case 1:
        text += "; a comment";
        break;
      case 2:
        break;
      default:
        text += std::string(keys[rng() % 6]) + "=v" + std::to_string(rng() % 100);
    }
    text += (rng() % 4) ? "\r\n" : "\n";
  }
  // Files that end without a line end, and long last lines (the text grows when a section is
  // appended).
  if (!text.empty() && rng() % 3 == 0) text.erase(text.find_last_not_of("\r\n") + 1);
  if (rng() % 5 == 0) text += std::string(40 + rng() % 200, 'z') + "=long";
  return text;
}

}  // namespace

TEST(ProfileBatch, EqualsTheSameWritesMadeOneByOne) {
  TempDir dir;
  std::mt19937 rng(20261208);
  const char* sections[] = {"A", "a", "B", "Disc 1", "New"};
  const char* keys[] = {"k", "K", "f0", "f1", "name", "y"};
  for (int round = 0; round < 200; ++round) {
    const std::string text = RandomFile(rng);
    WriteFile(dir / "batch.ini", text);
    WriteFile(dir / "single.ini", text);
    std::vector<ql::profile::Write> writes;
    const int n = 1 + static_cast<int>(rng() % 8);
    for (int i = 0; i < n; ++i) {
      ql::profile::Write w{sections[rng() % 5], keys[rng() % 6], std::nullopt};
      if (rng() % 4) w.value = "w" + std::to_string(rng() % 1000);
      writes.push_back(w);
    }
    ql::profile::WriteStrings(dir / "batch.ini", writes);
    for (const auto& w : writes)
      ql::profile::WriteString(dir / "single.ini", w.section, w.key, w.value);
    ASSERT_EQ(ReadFile(dir / "batch.ini"), ReadFile(dir / "single.ini"))
        << "round " << round << ", file:\n"
        << text;
  }
}
