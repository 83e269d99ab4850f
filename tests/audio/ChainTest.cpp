#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "AudioTestUtil.h"
#include "MMObjects.h"

using namespace qlaudio;

namespace {

// Records the notifications it receives, in order, into a shared log.
class TLogged : public TMMDSPComponent {
 public:
  TLogged(std::string name, std::vector<std::string>* log) : log_(log) { Name = std::move(name); }
  void Opened() override { Log("open"), TMMDSPComponent::Opened(); }
  void Closed() override { Log("close"), TMMDSPComponent::Closed(); }
  void Started() override { Log("start"), TMMDSPComponent::Started(); }
  void Stopped() override { Log("stop"), TMMDSPComponent::Stopped(); }

 private:
  void Log(const char* what) {
    if (log_) log_->push_back(Name + ":" + what);
  }
  std::vector<std::string>* log_;
};

class TTestDriver : public TMMCustomSoundComponent {
 public:
  TTestDriver(std::string name, std::vector<std::string>* log) : log_(log) {
    Name = std::move(name);
  }
  void Open() override { log_->push_back(Name + ":open"), NotifySection(TMMNotify::Opened); }
  void Close() override { log_->push_back(Name + ":close"), NotifySection(TMMNotify::Closed); }
  void Start() override { NotifySection(TMMNotify::Started); }
  void Pause() override { NotifySection(TMMNotify::Paused); }
  void Restart() override { NotifySection(TMMNotify::Restarted); }
  void Stop() override { log_->push_back(Name + ":stop"), NotifySection(TMMNotify::Stopped); }

 private:
  std::vector<std::string>* log_;
};

class TSourceOnly : public TMMDSPComponent {
 public:
  bool HasPublishedProperty(const std::string& n) const override { return n != "Input"; }
};

}  // namespace

TEST(Chain, LinksAreSymmetricAndRelinkReleasesOldPartner) {
  TMMDSPComponent a, b, c;
  a.SetOutput(&b);
  EXPECT_EQ(b.GetInput(), &a);
  EXPECT_EQ(b.InputLinkName(), "Output");
  a.SetOutput(&c);
  EXPECT_EQ(c.GetInput(), &a);
  EXPECT_EQ(b.GetInput(), nullptr);
  // Linking from the other side releases the input's old output.
  b.SetInput(&a);
  EXPECT_EQ(a.GetOutput(), &b);
  EXPECT_EQ(c.GetInput(), nullptr);
  b.SetInput(nullptr);
  EXPECT_EQ(a.GetOutput(), nullptr);
}

TEST(Chain, RefusedLinksChangeNothing) {
  TMMDSPComponent a, b, c;
  TSourceOnly src;
  a.SetInput(&a);
  EXPECT_EQ(a.GetInput(), nullptr);
  a.SetOutput(&src);  // src publishes no Input
  EXPECT_EQ(a.GetOutput(), nullptr);
  a.SetOutput(&b);
  b.SetOutput(&c);
  a.SetInput(&c);  // c is downstream of a: a cycle
  EXPECT_EQ(a.GetInput(), nullptr);
  EXPECT_EQ(c.GetOutput(), nullptr);
  c.SetOutput(&a);  // the mirror check
  EXPECT_EQ(c.GetOutput(), nullptr);
  EXPECT_EQ(a.GetOutput(), &b);
}

TEST(Chain, FormatFlowsDownAndIsLostWithTheHead) {
  auto head = std::make_unique<TMMDSPComponent>();
  TMMDSPComponent b, c;
  b.SetOutput(&c);
  head->SetOutput(&b);
  TWaveFormatEx f = Pcm(16, 2, 44100);
  head->SetWaveFormat(&f);
  ASSERT_NE(c.GetWaveFormat(), nullptr);
  EXPECT_EQ(c.GetWaveFormat()->nSamplesPerSec, 44100u);
  EXPECT_NE(c.GetWaveFormat(), head->GetWaveFormat());  // each keeps its own copy
  f = Pcm(8, 1, 22050);
  head->SetWaveFormat(&f);
  EXPECT_EQ(c.GetWaveFormat()->wBitsPerSample, 8);
  head.reset();
  EXPECT_EQ(b.GetInput(), nullptr);
  EXPECT_EQ(b.GetWaveFormat(), nullptr);
  EXPECT_EQ(c.GetWaveFormat(), nullptr);
}

TEST(Chain, EffectiveBufferSizeHoldsWholeFrames) {
  TMMDSPComponent a;
  TWaveFormatEx f = Pcm(16, 2, 44100);
  a.SetWaveFormat(&f);
  for (auto [req, eff] : std::vector<std::pair<int, int>>{{1000, 1000}, {1001, 1000}, {3, 4}}) {
    a.SetBufferSize(req);
    a.Opened();
    EXPECT_EQ(a.GetBufferSize(), eff) << req;
    a.Closed();
    EXPECT_EQ(a.GetBufferSize(), req);
  }
}

TEST(Chain, DriverSectionsNotifyInChainOrder) {
  std::vector<std::string> log;
  TLogged src("src", &log), fx("fx", &log), meter("meter", &log);
  TTestDriver out("out", &log);
  src.SetOutput(&fx);
  fx.SetOutput(&out);
  out.SetOutput(&meter);
  TWaveFormatEx f = Pcm();
  src.SetWaveFormat(&f);
  out.SetBufferSize(8192);
  log.clear();
  out.Opened();
  EXPECT_EQ(log, (std::vector<std::string>{"out:open", "src:open", "fx:open", "meter:open"}));
  EXPECT_EQ(src.GetBufferSize(), 8192);
  EXPECT_FALSE(out.HasUpstreamDriver());
  log.clear();
  out.Closed();
  EXPECT_EQ(log, (std::vector<std::string>{"out:close", "src:close", "fx:close", "meter:close"}));
}

TEST(Chain, SecondDriverFollowsTheFirst) {
  std::vector<std::string> log;
  TLogged src("src", &log), mid("mid", &log);
  TTestDriver d1("d1", &log), d2("d2", &log);
  src.SetOutput(&d1);
  d1.SetOutput(&mid);
  mid.SetOutput(&d2);
  log.clear();
  d1.Opened();
  EXPECT_EQ(log, (std::vector<std::string>{"d1:open", "src:open", "mid:open", "d2:open"}));
  EXPECT_TRUE(d2.HasUpstreamDriver());
  log.clear();
  d1.Stopped();
  // Downstream first: the lower driver stops before the section.
  EXPECT_EQ(log, (std::vector<std::string>{"d1:stop", "d2:stop", "src:stop", "mid:stop"}));
}

TEST(Chain, PullAndPushRunThroughTheChain) {
  TMemorySource src("abcdefgh", Pcm());
  TMMDSPComponent mid;
  TMemorySink sink;
  src.SetOutput(&mid);
  mid.SetOutput(&sink);
  int loads = 0;
  mid.OnBufferLoad = [&](TMMDSPComponent*, PWaveHdr, bool&) { ++loads; };
  EXPECT_EQ(PullAll(mid, 4), "abcdefgh");
  EXPECT_EQ(loads, 2);
  auto h = AllocWaveHdr(4);
  std::memcpy(h->lpData, "wxyz", 4);
  h->dwBytesRecorded = 4;
  mid.BufferReady(h.get());
  EXPECT_EQ(sink.data, "wxyz");
}

TEST(WaveFormat, CopiesAndChecks) {
  TWaveFormatEx f = Pcm();
  f.cbSize = 22;
  PWaveFormatEx copy = wfxCopy(&f);
  EXPECT_EQ(copy->cbSize, 0);
  EXPECT_EQ(wfxSize(copy), 18);
  wfxFree(copy);
  EXPECT_EQ(copy, nullptr);
  EXPECT_EQ(wfxSize(nullptr), 0);
  EXPECT_EQ(wfxCopy(nullptr), nullptr);
  f.wFormatTag = 2;
  f.cbSize = 32;
  EXPECT_EQ(wfxSize(&f), 50);

  for (auto [rate, ok] : std::vector<std::pair<int, bool>>{
           {3999, false}, {4000, true}, {100000, true}, {100001, false}}) {
    TWaveFormatEx g = Pcm(16, 2, rate);
    EXPECT_EQ(pcmIsValidFormat(&g), ok) << rate;
  }
  TWaveFormatEx g = Pcm(24, 2, 44100);
  EXPECT_FALSE(pcmIsValidFormat(&g));
  EXPECT_EQ(g.nBlockAlign, 6);
}

TEST(WaveFormat, ConversionsRound) {
  TWaveFormatEx f = Pcm(16, 2, 44100);
  EXPECT_EQ(MulDivRound(10, 1, 4), 3);  // 2.5 rounds up
  EXPECT_EQ(MulDivRound(9, 1, 4), 2);
  EXPECT_EQ(wfxBytesToMs(&f, 176400), 1000);
  EXPECT_EQ(wfxBytesToSamples(&f, 400), 100);
  EXPECT_EQ(wfxSamplesToBytes(&f, 3), 12);
  EXPECT_EQ(wfxMsToSamples(&f, 10), 441);
  EXPECT_EQ(wfxSamplesToMs(&f, 441), 10);
  // Positions beyond 32 bits.
  EXPECT_EQ(wfxSamplesToBytes64(&f, 3000000000LL), 12000000000LL);
  EXPECT_EQ(wfxSamplesToMs64(&f, 44100LL * 100000), 100000000LL);
  TWaveFormatEx odd{};
  odd.wFormatTag = 2, odd.nSamplesPerSec = 1000, odd.nAvgBytesPerSec = 1500, odd.nBlockAlign = 4;
  EXPECT_EQ(wfxSamplesToBytes(&odd, 3), 8);  // 4.5 -> 5 -> up to whole blocks
}
