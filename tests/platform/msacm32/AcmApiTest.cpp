// The manager's entry points: version, counts, the lists the format chooser shows, suggestions,
// and the calls it must refuse.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "AcmBinding.h"

using namespace acmtest;

namespace {

class AcmApi : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(Lib().ok) << Lib().lib.Error(); }
  Acm& a = Lib();
};

TEST_F(AcmApi, VersionAndCounts) {
  EXPECT_GE(a.acmGetVersion() >> 16, 0x0200u) << "2.00 or more";
  auto metric = [&](unsigned m) {
    uint32_t v = 12345;
    EXPECT_EQ(a.acmMetrics(nullptr, m, &v), MMSYSERR_NOERROR) << m;
    return v;
  };
  EXPECT_EQ(metric(ACM_METRIC_COUNT_DRIVERS), 5u);
  EXPECT_EQ(metric(ACM_METRIC_COUNT_CODECS), 4u);
  EXPECT_EQ(metric(ACM_METRIC_COUNT_CONVERTERS), 1u);
  EXPECT_EQ(metric(ACM_METRIC_COUNT_FILTERS), 0u);
  EXPECT_EQ(metric(ACM_METRIC_MAX_SIZE_FORMAT), 50u) << "the ADPCM record with its coefficients";
  EXPECT_EQ(metric(ACM_METRIC_MAX_SIZE_FILTER), 0u);
  uint32_t v;
  EXPECT_EQ(a.acmMetrics(nullptr, 9999, &v), MMSYSERR_NOTSUPPORTED);
  EXPECT_EQ(a.acmMetrics(nullptr, ACM_METRIC_COUNT_DRIVERS, nullptr), MMSYSERR_INVALPARAM);
  int bogus = 0;
  EXPECT_EQ(a.acmMetrics(&bogus, ACM_METRIC_MAX_SIZE_FORMAT, &v), MMSYSERR_INVALHANDLE);
}

int TagCb(HACMDRIVERID id, LPACMFORMATTAGDETAILSA d, uintptr_t inst, uint32_t) {
  auto* tags = reinterpret_cast<std::vector<std::pair<uint32_t, std::string>>*>(inst);
  EXPECT_NE(id, nullptr);
  EXPECT_GT(d->cStandardFormats, 0u);
  tags->push_back({d->dwFormatTag, d->szFormatTag});
  return 1;
}

TEST_F(AcmApi, FormatTagsWithNamesAndSizes) {
  std::vector<std::pair<uint32_t, std::string>> tags;
  ACMFORMATTAGDETAILSA d{};
  d.cbStruct = sizeof d;
  ASSERT_EQ(a.acmFormatTagEnumA(nullptr, &d, TagCb, reinterpret_cast<uintptr_t>(&tags), 0),
            MMSYSERR_NOERROR);
  const std::vector<std::pair<uint32_t, std::string>> want = {
      {1, "PCM"},        {6, "CCITT A-Law"},     {7, "CCITT u-Law"},
      {17, "IMA ADPCM"}, {2, "Microsoft ADPCM"}, {49, "GSM 6.10"}};
  EXPECT_EQ(tags, want);

  d.dwFormatTag = 0;
  ASSERT_EQ(a.acmFormatTagDetailsA(nullptr, &d, ACM_FORMATTAGDETAILSF_LARGESTSIZE),
            MMSYSERR_NOERROR);
  EXPECT_EQ(d.dwFormatTag, 2u);
  EXPECT_EQ(d.cbFormatSize, 50u);
  d.dwFormatTag = WAVE_FORMAT_GSM610;
  ASSERT_EQ(a.acmFormatTagDetailsA(nullptr, &d, ACM_FORMATTAGDETAILSF_FORMATTAG), MMSYSERR_NOERROR);
  EXPECT_EQ(d.cbFormatSize, 20u);
  EXPECT_STREQ(d.szFormatTag, "GSM 6.10");
  d.dwFormatTag = 85;
  EXPECT_EQ(a.acmFormatTagDetailsA(nullptr, &d, ACM_FORMATTAGDETAILSF_FORMATTAG),
            ACMERR_NOTPOSSIBLE);
  d.dwFormatTagIndex = 3;
  ASSERT_EQ(a.acmFormatTagDetailsA(nullptr, &d, ACM_FORMATTAGDETAILSF_INDEX), MMSYSERR_NOERROR);
  EXPECT_EQ(d.dwFormatTag, 17u);
}

struct Listing {
  std::vector<std::string> names;
  std::vector<Fmt> formats;
};
int FormatCb(HACMDRIVERID, LPACMFORMATDETAILSA d, uintptr_t inst, uint32_t) {
  auto* l = reinterpret_cast<Listing*>(inst);
  EXPECT_EQ(d->dwFormatTag, d->pwfx->wFormatTag);
  l->names.push_back(d->szFormat);
  const auto* b = reinterpret_cast<const uint8_t*>(d->pwfx);
  l->formats.emplace_back(
      b, b + sizeof(WAVEFORMATEX) + (d->pwfx->wFormatTag == 1 ? 0 : d->pwfx->cbSize));
  return 1;
}

Listing List(const Fmt& restrict, uint32_t flags) {
  Listing l;
  std::vector<uint8_t> buf(1025, 0);
  std::memcpy(buf.data(), restrict.data(), restrict.size());
  ACMFORMATDETAILSA d{};
  d.cbStruct = sizeof d;
  d.pwfx = reinterpret_cast<LPWAVEFORMATEX>(buf.data());
  d.cbwfx = uint32_t(buf.size());
  EXPECT_EQ(Lib().acmFormatEnumA(nullptr, &d, FormatCb, reinterpret_cast<uintptr_t>(&l), flags),
            MMSYSERR_NOERROR);
  return l;
}

TEST_F(AcmApi, FormatListsReadLikeTheChooser) {
  const Listing pcm = List(Pcm(44100, 16, 2), ACM_FORMATENUMF_WFORMATTAG);
  ASSERT_EQ(pcm.names.size(), 28u) << "7 rates, 2 sizes, 2 channel counts";
  EXPECT_EQ(pcm.names.front(), "8.000 kHz, 8 Bit, Mono");
  bool cd = false;
  for (size_t i = 0; i < pcm.names.size(); ++i) {
    if (pcm.names[i] != "44.100 kHz, 16 Bit, Stereo") continue;
    cd = true;
    EXPECT_EQ(W(pcm.formats[i])->nAvgBytesPerSec, 176400u);
    EXPECT_EQ(W(pcm.formats[i])->nBlockAlign, 4u);
  }
  EXPECT_TRUE(cd);

  const Listing gsm = List(Listed(WAVE_FORMAT_GSM610, 8000, 1), ACM_FORMATENUMF_WFORMATTAG);
  ASSERT_FALSE(gsm.names.empty());
  EXPECT_EQ(gsm.names.front(), "8.000 kHz, Mono");
  EXPECT_EQ(W(gsm.formats.front())->nAvgBytesPerSec, 1625u);

  // Every listed record is one the manager opens a stream for, to or from 16-bit PCM.
  const Listing all = List(Pcm(44100, 16, 2), 0);
  EXPECT_GT(all.formats.size(), 60u);
  for (Fmt f : all.formats) {
    Fmt pcm16 = Pcm(W(f)->nSamplesPerSec, 16, W(f)->nChannels);
    EXPECT_EQ(
        a.acmStreamOpen(nullptr, nullptr, W(pcm16), W(f), nullptr, 0, 0, ACM_STREAMOPENF_QUERY),
        MMSYSERR_NOERROR)
        << W(f)->wFormatTag << " " << W(f)->nSamplesPerSec;
  }

  const Listing mono22 =
      List(Pcm(22050, 16, 1), ACM_FORMATENUMF_NCHANNELS | ACM_FORMATENUMF_NSAMPLESPERSEC);
  std::set<uint32_t> tags;
  for (const Fmt& f : mono22.formats) {
    EXPECT_EQ(W(f)->nChannels, 1u);
    EXPECT_EQ(W(f)->nSamplesPerSec, 22050u);
    tags.insert(W(f)->wFormatTag);
  }
  EXPECT_EQ(tags, (std::set<uint32_t>{1, 2, 6, 7, 17, 49}));
}

TEST_F(AcmApi, ConvertAndSuggestListsFollowOneStream) {
  // CD audio converts in one stream to PCM of its rate (any size and channels), PCM of other
  // rates in 16 bits, and to codecs at 44.1 kHz stereo.
  for (const Fmt& f : List(Pcm(44100, 16, 2), ACM_FORMATENUMF_CONVERT).formats) {
    const WAVEFORMATEX* w = W(f);
    if (w->wFormatTag == WAVE_FORMAT_PCM) {
      EXPECT_TRUE(w->nSamplesPerSec == 44100 || w->wBitsPerSample == 16);
    } else {
      EXPECT_EQ(w->nSamplesPerSec, 44100u);
      EXPECT_EQ(w->nChannels, 2u);
    }
  }
  const Listing s = List(Listed(WAVE_FORMAT_IMA_ADPCM, 22050, 1), ACM_FORMATENUMF_SUGGEST);
  ASSERT_EQ(s.formats.size(), 1u);
  EXPECT_EQ(s.names[0], "22.050 kHz, 16 Bit, Mono");
}

TEST_F(AcmApi, FormatDetailsByIndexAndByRecord) {
  std::vector<uint8_t> buf(64, 0);
  ACMFORMATDETAILSA d{};
  d.cbStruct = sizeof d;
  d.pwfx = reinterpret_cast<LPWAVEFORMATEX>(buf.data());
  d.cbwfx = uint32_t(buf.size());
  d.dwFormatTag = WAVE_FORMAT_ADPCM;
  d.dwFormatIndex = 0;
  ASSERT_EQ(a.acmFormatDetailsA(nullptr, &d, ACM_FORMATDETAILSF_INDEX), MMSYSERR_NOERROR);
  EXPECT_STREQ(d.szFormat, "8.000 kHz, 4 Bit, Mono");
  EXPECT_EQ(d.pwfx->cbSize, 32u);
  EXPECT_EQ(d.pwfx->nBlockAlign, 256u);
  d.cbwfx = 40;  // too small for the coefficients
  EXPECT_EQ(a.acmFormatDetailsA(nullptr, &d, ACM_FORMATDETAILSF_INDEX), MMSYSERR_INVALPARAM);
  d.cbwfx = uint32_t(buf.size());
  d.dwFormatIndex = 1000;
  EXPECT_EQ(a.acmFormatDetailsA(nullptr, &d, ACM_FORMATDETAILSF_INDEX), ACMERR_NOTPOSSIBLE);

  Fmt cd = Pcm(44100, 16, 2);
  std::memcpy(buf.data(), cd.data(), cd.size());
  ASSERT_EQ(a.acmFormatDetailsA(nullptr, &d, ACM_FORMATDETAILSF_FORMAT), MMSYSERR_NOERROR);
  EXPECT_STREQ(d.szFormat, "44.100 kHz, 16 Bit, Stereo");
  d.pwfx->nBlockAlign = 3;
  EXPECT_EQ(a.acmFormatDetailsA(nullptr, &d, ACM_FORMATDETAILSF_FORMAT), ACMERR_NOTPOSSIBLE);
}

TEST_F(AcmApi, SuggestFixesTheFieldsAsked) {
  Fmt cd = Pcm(44100, 16, 2);
  std::vector<uint8_t> buf(1025, 0);
  auto* m = reinterpret_cast<LPWAVEFORMATEX>(buf.data());
  auto suggest = [&](const Fmt& src, uint16_t tag, uint16_t ch, uint32_t rate, uint16_t bits,
                     uint32_t flags) {
    std::fill(buf.begin(), buf.end(), 0);
    m->wFormatTag = tag;
    m->nChannels = ch;
    m->nSamplesPerSec = rate;
    m->wBitsPerSample = bits;
    Fmt s = src;
    return a.acmFormatSuggest(nullptr, W(s), m, uint32_t(buf.size()), flags);
  };
  // The first step of CD audio to 22.05 kHz mono 8-bit: the rate and channels, 16 bits kept.
  ASSERT_EQ(
      suggest(cd, 0, 1, 22050, 0, ACM_FORMATSUGGESTF_NCHANNELS | ACM_FORMATSUGGESTF_NSAMPLESPERSEC),
      MMSYSERR_NOERROR);
  EXPECT_EQ(Fmt(buf.begin(), buf.begin() + 18), Pcm(22050, 16, 1));
  // Rate and size together are not one stream's work.
  EXPECT_EQ(suggest(cd, 0, 1, 22050, 8,
                    ACM_FORMATSUGGESTF_NCHANNELS | ACM_FORMATSUGGESTF_NSAMPLESPERSEC |
                        ACM_FORMATSUGGESTF_WBITSPERSAMPLE),
            ACMERR_NOTPOSSIBLE);
  // A codec asked for by tag, at the source's rate and channels.
  ASSERT_EQ(suggest(cd, WAVE_FORMAT_IMA_ADPCM, 0, 0, 0, ACM_FORMATSUGGESTF_WFORMATTAG),
            MMSYSERR_NOERROR);
  EXPECT_EQ(m->wFormatTag, WAVE_FORMAT_IMA_ADPCM);
  EXPECT_EQ(m->nChannels, 2u);
  EXPECT_EQ(m->nBlockAlign, 2048u);
  EXPECT_EQ(suggest(cd, WAVE_FORMAT_GSM610, 0, 0, 0, ACM_FORMATSUGGESTF_WFORMATTAG),
            ACMERR_NOTPOSSIBLE)
      << "GSM is mono only";
  // A compressed source decodes to 16-bit PCM of its own rate and channels.
  Fmt gsm = Listed(WAVE_FORMAT_GSM610, 8000, 1);
  ASSERT_EQ(suggest(gsm, WAVE_FORMAT_PCM, 2, 44100, 0,
                    ACM_FORMATSUGGESTF_WFORMATTAG | ACM_FORMATSUGGESTF_NCHANNELS |
                        ACM_FORMATSUGGESTF_NSAMPLESPERSEC),
            ACMERR_NOTPOSSIBLE);
  ASSERT_EQ(suggest(gsm, WAVE_FORMAT_PCM, 0, 0, 0, ACM_FORMATSUGGESTF_WFORMATTAG),
            MMSYSERR_NOERROR);
  EXPECT_EQ(Fmt(buf.begin(), buf.begin() + 18), Pcm(8000, 16, 1));
  EXPECT_EQ(a.acmFormatSuggest(nullptr, W(cd), m, 10, 0), MMSYSERR_INVALPARAM);
  EXPECT_EQ(a.acmFormatSuggest(nullptr, W(cd), m, 1025, 1), MMSYSERR_INVALFLAG);
}

TEST_F(AcmApi, StreamsNoSingleDriverMakesAreRefused) {
  auto query = [&](Fmt s, Fmt d, uint32_t flags = ACM_STREAMOPENF_QUERY) {
    return a.acmStreamOpen(nullptr, nullptr, W(s), W(d), nullptr, 0, 0, flags);
  };
  const Fmt cd = Pcm(44100, 16, 2);
  EXPECT_EQ(query(cd, cd), MMSYSERR_NOERROR);
  EXPECT_EQ(query(cd, Pcm(22050, 16, 1)), MMSYSERR_NOERROR);
  EXPECT_EQ(query(cd, Pcm(44100, 8, 1)), MMSYSERR_NOERROR);
  EXPECT_EQ(query(cd, Pcm(22050, 8, 1)), ACMERR_NOTPOSSIBLE);
  EXPECT_EQ(query(cd, Listed(WAVE_FORMAT_IMA_ADPCM, 22050, 1)), ACMERR_NOTPOSSIBLE);
  EXPECT_EQ(query(Pcm(22050, 8, 1), Listed(WAVE_FORMAT_IMA_ADPCM, 22050, 1)), ACMERR_NOTPOSSIBLE)
      << "codecs take 16-bit PCM only";
  EXPECT_EQ(query(Listed(WAVE_FORMAT_IMA_ADPCM, 22050, 1), Listed(WAVE_FORMAT_ALAW, 22050, 1)),
            ACMERR_NOTPOSSIBLE);
  EXPECT_EQ(query(cd, Pcm(96000, 16, 2)), ACMERR_NOTPOSSIBLE);
  EXPECT_EQ(query(cd, Pcm(44100, 24, 2)), ACMERR_NOTPOSSIBLE);
  Fmt bad = Pcm(44100, 16, 2);
  W(bad)->nAvgBytesPerSec = 1000;
  EXPECT_EQ(query(cd, bad), ACMERR_NOTPOSSIBLE);
  Fmt mp3 = Pcm(44100, 16, 2);
  W(mp3)->wFormatTag = WAVE_FORMAT_MPEGLAYER3;
  EXPECT_EQ(query(cd, mp3), ACMERR_NOTPOSSIBLE);
  EXPECT_EQ(query(cd, cd, ACM_STREAMOPENF_QUERY | ACM_STREAMOPENF_ASYNC), ACMERR_NOTPOSSIBLE);
  EXPECT_EQ(query(cd, cd, ACM_STREAMOPENF_QUERY | 0x100), MMSYSERR_INVALFLAG);
  WAVEFILTER filter{};
  Fmt s = cd, d = cd;
  EXPECT_EQ(a.acmStreamOpen(nullptr, nullptr, W(s), W(d), &filter, 0, 0, ACM_STREAMOPENF_QUERY),
            ACMERR_NOTPOSSIBLE);
  EXPECT_EQ(a.acmStreamOpen(nullptr, nullptr, W(s), W(d), nullptr, 0, 0, 0), MMSYSERR_INVALPARAM);
}

TEST_F(AcmApi, HeadersMustBePreparedForTheirStream) {
  Fmt cd = Pcm(44100, 16, 2), half = Pcm(22050, 16, 2);
  HACMSTREAM h = nullptr, other = nullptr;
  ASSERT_EQ(a.acmStreamOpen(&h, nullptr, W(cd), W(half), nullptr, 0, 0, 0), MMSYSERR_NOERROR);
  ASSERT_EQ(a.acmStreamOpen(&other, nullptr, W(cd), W(cd), nullptr, 0, 0, 0), MMSYSERR_NOERROR);
  uint32_t n = 0;
  ASSERT_EQ(a.acmStreamSize(h, 4096, &n, ACM_STREAMSIZEF_SOURCE), MMSYSERR_NOERROR);
  EXPECT_GE(n, 2048u);
  ASSERT_EQ(a.acmStreamSize(h, 2048, &n, ACM_STREAMSIZEF_DESTINATION), MMSYSERR_NOERROR);
  EXPECT_LE(n, 4096u);
  EXPECT_EQ(a.acmStreamSize(h, 4096, nullptr, 0), MMSYSERR_INVALPARAM);

  std::vector<uint8_t> src(4096), dst(4096);
  ACMSTREAMHEADER hdr{};
  hdr.cbStruct = sizeof hdr;
  hdr.pbSrc = src.data();
  hdr.cbSrcLength = 4096;
  hdr.pbDst = dst.data();
  hdr.cbDstLength = 4096;
  EXPECT_EQ(a.acmStreamConvert(h, &hdr, 0), ACMERR_UNPREPARED);
  EXPECT_EQ(a.acmStreamUnprepareHeader(h, &hdr, 0), ACMERR_UNPREPARED);
  ASSERT_EQ(a.acmStreamPrepareHeader(h, &hdr, 0), MMSYSERR_NOERROR);
  EXPECT_TRUE(hdr.fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED);
  EXPECT_EQ(a.acmStreamConvert(other, &hdr, 0), MMSYSERR_INVALPARAM) << "another stream's header";
  EXPECT_EQ(a.acmStreamConvert(h, &hdr, 0x1000), MMSYSERR_INVALFLAG);
  hdr.cbSrcLength = 8192;
  EXPECT_EQ(a.acmStreamConvert(h, &hdr, 0), MMSYSERR_INVALPARAM) << "longer than prepared";
  hdr.cbSrcLength = 4096;
  ASSERT_EQ(a.acmStreamConvert(h, &hdr, ACM_STREAMCONVERTF_BLOCKALIGN), MMSYSERR_NOERROR);
  EXPECT_TRUE(hdr.fdwStatus & ACMSTREAMHEADER_STATUSF_DONE);
  EXPECT_EQ(a.acmStreamReset(h, 0), MMSYSERR_NOERROR);
  EXPECT_EQ(a.acmStreamUnprepareHeader(h, &hdr, 0), MMSYSERR_NOERROR);
  EXPECT_FALSE(hdr.fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED);
  EXPECT_EQ(a.acmStreamClose(h, 0), MMSYSERR_NOERROR);
  EXPECT_EQ(a.acmStreamClose(h, 0), MMSYSERR_INVALHANDLE) << "closed twice";
  EXPECT_EQ(a.acmStreamSize(h, 4096, &n, 0), MMSYSERR_INVALHANDLE);
  EXPECT_EQ(a.acmStreamClose(other, 0), MMSYSERR_NOERROR);
}

}  // namespace
