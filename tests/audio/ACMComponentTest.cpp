// TMMACM: the checks at creation with a missing, foreign, old and the real compression manager,
// the counts, and the choice through an installed chooser. The converter passes audio through
// when there is no usable manager.
#include <gtest/gtest.h>

#include <cstring>

#include "AudioTestUtil.h"
#include "MMACMBind.h"
#include "MMACMCvt.h"
#include "MMACMDlg.h"
#include "MMWaveFile.h"
#include "ScriptedUi.h"

using namespace qlaudio;

namespace {

const std::string kNotInstalled =
    "The Audio Compression Manager (ACM) is not installed on this system. Most features of this "
    "application will not be available.";

struct ACMComponent : ::testing::Test {
  ql::ScriptedUi ui;
  void SetUp() override { ql::SetUi(&ui); }
  void TearDown() override {
    SetACMFormatChooser(nullptr);
    SetACMLibraryName("MSACM32.DLL");
    ql::SetUi(nullptr);
  }
};

std::vector<std::uint8_t> Bytes(const TWaveFormatEx* f) {
  const auto* b = reinterpret_cast<const std::uint8_t*>(f);
  return {b, b + wfxSize(f)};
}

}  // namespace

TEST_F(ACMComponent, WithoutAManagerWarnsOnceAndConvertsNothing) {
  for (const std::string& lib : {std::string("/nonexistent/libmsacm32.so"),
                                std::string(FOREIGN_LIBRARY)}) {
    SetACMLibraryName(lib);
    ui.Clear();
    TMMACM acm;
    ASSERT_EQ(ui.Texts(), std::vector<std::string>{kNotInstalled}) << lib;
    EXPECT_EQ(ui.shown[0].kind, ql::MsgKind::kPlain);
    EXPECT_FALSE(acm.ACMPresent());
    EXPECT_EQ(acm.NumDrivers(), 0);
    EXPECT_FALSE(acm.ChooseFormat());
    // The converter then passes the audio through in the input's format.
    const TWaveFormatEx cd = Pcm(16, 2, 44100), want = Pcm(8, 1, 22050);
    TMemorySource source("abcdefgh", cd);
    TMMACMConverter conv;
    conv.SetInput(&source);
    conv.SetWaveFormat(&want);
    EXPECT_FALSE(conv.ConversionNeeded());
    EXPECT_EQ(std::memcmp(conv.GetWaveFormat(), &cd, sizeof cd), 0);
    EXPECT_FALSE(ACMBuildFormat(17, 22050, 4, 1));
    conv.Opened();
    conv.Started();
    EXPECT_EQ(PullAll(conv, 64), "abcdefgh");
    conv.Closed();
  }
}

TEST_F(ACMComponent, AnOldManagerIsNamedWithItsVersion) {
  SetACMLibraryName(OLD_LIBRARY);
  TMMACM acm;
  EXPECT_EQ(ui.Texts(),
            std::vector<std::string>{
                "This application requires Version 2.00 or greater of the Audio Compression "
                "Manager (ACM). The version installed on this system is Version 1.02. Most "
                "features of this application will not be available."});
  EXPECT_FALSE(acm.ACMPresent());
  EXPECT_EQ(acm.Version(), 0x01020000u);
  EXPECT_FALSE(ACMApi().Usable());
}

TEST_F(ACMComponent, CountsTheDriversOfTheManager) {
  TMMACM acm;
  EXPECT_TRUE(ui.Texts().empty());
  ASSERT_TRUE(acm.ACMPresent());
  EXPECT_EQ(acm.Version() >> 16, 0x0400u);
  // The PCM converter and four codecs; no filters.
  EXPECT_EQ(acm.NumDrivers(), 5);
  EXPECT_EQ(acm.NumCodecs(), 4);
  EXPECT_EQ(acm.NumConverters(), 1);
  EXPECT_EQ(acm.NumFilters(), 0);
  EXPECT_GT(acm.MaxFormatSize(), 18u);  // the ADPCM records carry their coefficients
  EXPECT_EQ(acm.Title, "Select...");
  EXPECT_EQ(acm.EnumFormats, efAll);
}

TEST_F(ACMComponent, ChooseFormatAsksTheChooserAndKeepsTheResult) {
  TMMACM acm;
  ASSERT_TRUE(acm.ACMPresent());
  const TWaveFormatEx cd = Pcm(16, 2, 44100);
  WfxPtr ima = ACMBuildFormat(17, 22050, 4, 1);
  ASSERT_TRUE(ima);

  // Without a chooser the choice is not possible.
  try {
    acm.ChooseFormat(&cd);
    ADD_FAILURE();
  } catch (const EMMACMError& e) {
    EXPECT_STREQ(e.what(), "acmFormatChoose failed with error 512");
  }

  TACMChooseRequest seen;
  std::uint32_t answer = 0;
  std::vector<std::uint8_t> result = Bytes(ima.get());
  SetACMFormatChooser([&](TACMChooseRequest& r) {
    seen.Title = r.Title;
    seen.Initial = r.Initial;
    seen.EnumFlags = r.EnumFlags;
    seen.EnumFormat = r.EnumFormat;
    seen.Accept = r.Accept;
    // The initial format is already in the buffer while the dialog runs.
    EXPECT_TRUE(!r.Initial || std::memcmp(acm.Format(), r.Initial, 18) == 0);
    r.Result = result;
    return answer;
  });
  ASSERT_TRUE(acm.ChooseFormat(&cd, "Wave Format"));
  EXPECT_EQ(seen.Title, "Wave Format");
  ASSERT_NE(seen.Initial, nullptr);
  EXPECT_EQ(seen.EnumFlags, 0u);
  EXPECT_EQ(Bytes(acm.Format()), result) << "the choice, extra bytes included";

  // Cancelled: False, and the buffer holds the initial format.
  answer = ACMERR_CANCELED;
  EXPECT_FALSE(acm.ChooseFormat(&cd));
  EXPECT_EQ(seen.Title, "Select...");
  EXPECT_EQ(Bytes(acm.Format()), Bytes(&cd));
  answer = 11;
  try {
    acm.ChooseFormat(&cd);
    ADD_FAILURE();
  } catch (const EMMACMError& e) {
    EXPECT_STREQ(e.what(), "acmFormatChoose failed with error 11");
  }

  // The restrictions, the last three only with an initial format.
  answer = 0;
  const std::pair<TMMACMEnumFormats, std::uint32_t> flags[] = {
      {efInput, ACM_FORMATENUMF_INPUT},       {efOutput, ACM_FORMATENUMF_OUTPUT},
      {efConvert, ACM_FORMATENUMF_CONVERT},   {efSuggest, ACM_FORMATENUMF_SUGGEST},
      {efRestrict, ACM_FORMATENUMF_WFORMATTAG}};
  for (auto [ef, flag] : flags) {
    acm.EnumFormats = ef;
    acm.ChooseFormat(&cd);
    EXPECT_EQ(seen.EnumFlags, flag) << ef;
    EXPECT_NE(seen.EnumFormat, nullptr) << ef;
    acm.ChooseFormat(nullptr);
    EXPECT_EQ(seen.EnumFlags, ef <= efOutput ? flag : 0u) << ef;
    EXPECT_EQ(seen.Initial, nullptr);
  }

  // OnFormatEnum decides what the chooser lists.
  EXPECT_FALSE(seen.Accept);
  acm.OnFormatEnum = [](TMMACM*, const TWaveFormatEx* f, const std::string&, bool& go) {
    go = f->nChannels == 1;
  };
  acm.ChooseFormat(&cd);
  ASSERT_TRUE(seen.Accept);
  EXPECT_FALSE(seen.Accept(&cd, "44.100 kHz, 16 Bit, Stereo"));
  EXPECT_TRUE(seen.Accept(ima.get(), "22.050 kHz, 4 Bit, Mono"));

  // SetFormat: a PCM copy has no extra bytes.
  TWaveFormatEx odd = Pcm(8, 1, 8000);
  odd.cbSize = 99;
  acm.SetFormat(&odd);
  EXPECT_EQ(acm.Format()->cbSize, 0);
}

TEST_F(ACMComponent, SourceIsClearedWhenTheWaveFileGoes) {
  TMMACM acm;
  auto file = std::make_unique<TMMWaveFile>();
  acm.SetSource(file.get());
  EXPECT_EQ(acm.GetSource(), file.get());
  file.reset();
  EXPECT_EQ(acm.GetSource(), nullptr);
}
