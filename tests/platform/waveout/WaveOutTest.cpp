// The wave output layer: the memory device, and ALSA through its file and null plugins.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "TestFiles.h"
#include "WaveOut.h"

using namespace ql;
using namespace std::chrono_literals;

namespace {

WAVEFORMATEX Cd() {
  return {WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0};
}

// Counts what the device reports; optionally refills and requeues each returned header.
struct Recorder {
  std::mutex m;
  std::condition_variable cv;
  int opens = 0, closes = 0;
  std::vector<WAVEHDR*> done;
  std::thread::id thread;
  bool foreignThread = true;
  std::function<void(HWAVEOUT, WAVEHDR*)> onDone;

  static void Proc(HWAVEOUT h, std::uint32_t msg, std::uintptr_t inst, std::uintptr_t p1,
                   std::uintptr_t) {
    auto* r = reinterpret_cast<Recorder*>(inst);
    if (std::this_thread::get_id() == r->thread) r->foreignThread = false;
    if (msg == WOM_DONE) {
      EXPECT_TRUE(reinterpret_cast<WAVEHDR*>(p1)->dwFlags & WHDR_DONE);
      if (r->onDone) r->onDone(h, reinterpret_cast<WAVEHDR*>(p1));
    }
    std::lock_guard lock(r->m);
    if (msg == WOM_OPEN) ++r->opens;
    if (msg == WOM_CLOSE) ++r->closes;
    if (msg == WOM_DONE) r->done.push_back(reinterpret_cast<WAVEHDR*>(p1));
    r->cv.notify_all();
  }

  bool WaitDone(size_t n, std::chrono::milliseconds limit = 5000ms) {
    std::unique_lock lock(m);
    return cv.wait_for(lock, limit, [&] { return done.size() >= n; });
  }
  size_t Done() {
    std::lock_guard lock(m);
    return done.size();
  }
};

// Headers over one block of distinct bytes, of varying lengths (some not whole frames).
struct Buffers {
  std::string data;
  std::vector<WAVEHDR> headers;
  explicit Buffers(const std::vector<std::uint32_t>& lengths) {
    std::uint32_t total = 0;
    for (auto n : lengths) total += n;
    data.resize(total);
    for (std::uint32_t i = 0; i < total; ++i) data[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    headers.resize(lengths.size());
    std::uint32_t at = 0;
    for (size_t i = 0; i < lengths.size(); ++i) {
      headers[i] = {};
      headers[i].lpData = data.data() + at;
      headers[i].dwBufferLength = lengths[i];
      at += lengths[i];
    }
  }
};

class WaveOut : public ::testing::Test {
 protected:
  HWAVEOUT Open(std::uint32_t id, WAVEFORMATEX f = Cd()) {
    rec_.thread = std::this_thread::get_id();
    HWAVEOUT h = nullptr;
    EXPECT_EQ(waveOutOpen(&h, id, &f, reinterpret_cast<std::uintptr_t>(&Recorder::Proc),
                          reinterpret_cast<std::uintptr_t>(&rec_), CALLBACK_FUNCTION),
              MMSYSERR_NOERROR);
    return h;
  }
  void WriteAll(HWAVEOUT h, Buffers& b) {
    for (auto& hdr : b.headers) {
      ASSERT_EQ(waveOutPrepareHeader(h, &hdr, sizeof hdr), MMSYSERR_NOERROR);
      ASSERT_EQ(waveOutWrite(h, &hdr, sizeof hdr), MMSYSERR_NOERROR);
    }
  }
  std::uint32_t Samples(HWAVEOUT h) {
    MMTIME t{TIME_SAMPLES, {0}};
    EXPECT_EQ(waveOutGetPosition(h, &t, sizeof t), MMSYSERR_NOERROR);
    EXPECT_EQ(t.wType, TIME_SAMPLES);
    return t.u.sample;
  }
  Recorder rec_;
};

TEST_F(WaveOut, DeviceList) {
  std::uint32_t n = waveOutGetNumDevs();
  ASSERT_GE(n, 1u);
  WAVEOUTCAPS caps;
  ASSERT_EQ(waveOutGetDevCaps(0, &caps, sizeof caps), MMSYSERR_NOERROR);
  EXPECT_STRNE(caps.szPname, "");
  EXPECT_EQ(caps.dwFormats & WAVE_FORMAT_4S16, WAVE_FORMAT_4S16);
  ASSERT_EQ(waveOutGetDevCaps(WAVE_MAPPER, &caps, sizeof caps), MMSYSERR_NOERROR);
  EXPECT_EQ(waveOutGetDevCaps(n, &caps, sizeof caps), MMSYSERR_BADDEVICEID);
  EXPECT_EQ(waveOutGetDevCaps(0, &caps, 4), MMSYSERR_INVALPARAM);
  std::uint32_t mem = AddMemoryDevice({"Test recorder", false, 100});
  EXPECT_EQ(mem, n);
  EXPECT_EQ(waveOutGetNumDevs(), n + 1);
  ASSERT_EQ(waveOutGetDevCaps(mem, &caps, sizeof caps), MMSYSERR_NOERROR);
  EXPECT_STREQ(caps.szPname, "Test recorder");
  char text[256];
  EXPECT_EQ(waveOutGetErrorText(WAVERR_BADFORMAT, text, sizeof text), MMSYSERR_NOERROR);
  EXPECT_STRNE(text, "");
  EXPECT_NE(waveOutGetErrorText(12345, text, sizeof text), MMSYSERR_NOERROR);
}

// Everything written comes out once, in order, also across headers that split a frame;
// every header comes back on the device's own thread; the position counts the samples.
TEST_F(WaveOut, MemoryDeviceRecordsEveryByteInOrder) {
  std::uint32_t id = AddMemoryDevice();
  HWAVEOUT h = Open(id);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(rec_.opens, 1);  // before waveOutOpen returned
  Buffers b({4096, 1, 3, 4097, 0, 4095, 8, 1000, 2, 2, 12, 4, 4096});
  ASSERT_EQ(b.data.size() % 4, 0u);
  WriteAll(h, b);
  ASSERT_TRUE(rec_.WaitDone(b.headers.size()));
  EXPECT_TRUE(rec_.foreignThread);
  for (size_t i = 0; i < b.headers.size(); ++i) EXPECT_EQ(rec_.done[i], &b.headers[i]);
  EXPECT_TRUE(MemoryDeviceBytes(id) == b.data);
  EXPECT_EQ(Samples(h), b.data.size() / 4);
  MMTIME t{TIME_BYTES, {0}};
  ASSERT_EQ(waveOutGetPosition(h, &t, sizeof t), MMSYSERR_NOERROR);
  EXPECT_EQ(t.u.cb, b.data.size());
  t.wType = TIME_MS;
  ASSERT_EQ(waveOutGetPosition(h, &t, sizeof t), MMSYSERR_NOERROR);
  EXPECT_EQ(t.u.ms, b.data.size() / 4 * 1000 / 44100);
  for (auto& hdr : b.headers)
    EXPECT_EQ(waveOutUnprepareHeader(h, &hdr, sizeof hdr), MMSYSERR_NOERROR);
  EXPECT_EQ(waveOutClose(h), MMSYSERR_NOERROR);
  EXPECT_EQ(rec_.closes, 1);
  ClearMemoryDevice(id);
  EXPECT_TRUE(MemoryDeviceBytes(id).empty());
}

// A device that plays for a long time keeps only its most recent bytes: bounded memory, and
// what it keeps is the end of what was played, starting on a frame.
TEST_F(WaveOut, MemoryDeviceKeepsBoundedMemory) {
  MemoryDeviceOptions o;
  o.keepBytes = 100000;
  std::uint32_t id = AddMemoryDevice(o);
  HWAVEOUT h = Open(id);
  ASSERT_NE(h, nullptr);
  std::vector<std::uint32_t> lengths(300, 4096);
  Buffers b(lengths);
  std::size_t largest = 0;
  rec_.onDone = [&](HWAVEOUT, WAVEHDR*) {
    largest = std::max(largest, MemoryDeviceBytes(id).size());
  };
  WriteAll(h, b);
  ASSERT_TRUE(rec_.WaitDone(b.headers.size()));
  const std::string kept = MemoryDeviceBytes(id);
  EXPECT_GE(kept.size(), 100000u);
  EXPECT_LE(largest, 100000u + 100000u / 4 + 65536 + 4096);
  EXPECT_EQ(kept.size() % 4, 0u);
  EXPECT_TRUE(kept == b.data.substr(b.data.size() - kept.size()));
  for (auto& hdr : b.headers) waveOutUnprepareHeader(h, &hdr, sizeof hdr);
  EXPECT_EQ(waveOutClose(h), MMSYSERR_NOERROR);
}

TEST_F(WaveOut, HeaderAndHandleErrors) {
  std::uint32_t id = AddMemoryDevice({"slow", true, 50});
  WAVEFORMATEX f = Cd();
  EXPECT_EQ(waveOutOpen(nullptr, id, &f, 0, 0, WAVE_FORMAT_QUERY), MMSYSERR_NOERROR);
  EXPECT_EQ(waveOutOpen(nullptr, id, nullptr, 0, 0, WAVE_FORMAT_QUERY), MMSYSERR_INVALPARAM);
  WAVEFORMATEX adpcm{2, 2, 44100, 44100, 2048, 4, 0};
  EXPECT_EQ(waveOutOpen(nullptr, id, &adpcm, 0, 0, WAVE_FORMAT_QUERY), WAVERR_BADFORMAT);
  EXPECT_EQ(waveOutOpen(nullptr, waveOutGetNumDevs(), &f, 0, 0, WAVE_FORMAT_QUERY),
            MMSYSERR_BADDEVICEID);
  HWAVEOUT h = Open(id);
  Buffers b({17640, 17640});
  WAVEHDR& hdr = b.headers[0];
  EXPECT_EQ(waveOutWrite(h, &hdr, sizeof hdr), WAVERR_UNPREPARED);
  WriteAll(h, b);
  EXPECT_EQ(waveOutUnprepareHeader(h, &hdr, sizeof hdr), WAVERR_STILLPLAYING);
  EXPECT_EQ(waveOutWrite(h, &hdr, sizeof hdr), MMSYSERR_INVALPARAM);  // already queued
  EXPECT_EQ(waveOutClose(h), WAVERR_STILLPLAYING);
  ASSERT_TRUE(rec_.WaitDone(2));
  EXPECT_EQ(waveOutClose(h), MMSYSERR_NOERROR);
  EXPECT_EQ(waveOutPause(h), MMSYSERR_INVALHANDLE);
  EXPECT_EQ(waveOutWrite(h, &hdr, sizeof hdr), MMSYSERR_INVALHANDLE);
}

// Paused before the first write (as a driver fills its queue), and again in mid-stream:
// the position stands still and nothing is lost.
TEST_F(WaveOut, PauseAndRestartLoseNothing) {
  std::uint32_t id = AddMemoryDevice({"paced", true, 40});
  HWAVEOUT h = Open(id);
  ASSERT_EQ(waveOutPause(h), MMSYSERR_NOERROR);
  Buffers b(std::vector<std::uint32_t>(10, 2940));  // 10 x 1/60 s
  WriteAll(h, b);
  std::this_thread::sleep_for(60ms);
  EXPECT_EQ(Samples(h), 0u);
  EXPECT_EQ(rec_.Done(), 0u);
  EXPECT_TRUE(MemoryDeviceBytes(id).empty());
  ASSERT_EQ(waveOutRestart(h), MMSYSERR_NOERROR);
  ASSERT_TRUE(rec_.WaitDone(3));
  ASSERT_EQ(waveOutPause(h), MMSYSERR_NOERROR);
  std::uint32_t at = Samples(h);
  size_t done = rec_.Done();
  std::this_thread::sleep_for(60ms);
  EXPECT_EQ(Samples(h), at);
  EXPECT_EQ(rec_.Done(), done);
  EXPECT_LT(done, 10u);
  ASSERT_EQ(waveOutRestart(h), MMSYSERR_NOERROR);
  ASSERT_TRUE(rec_.WaitDone(10));
  EXPECT_TRUE(MemoryDeviceBytes(id) == b.data);
  EXPECT_EQ(Samples(h), b.data.size() / 4);
  EXPECT_EQ(waveOutClose(h), MMSYSERR_NOERROR);
}

// Reset hands every queued header back before it returns, and the position starts at 0.
TEST_F(WaveOut, ResetReturnsEveryHeader) {
  std::uint32_t id = AddMemoryDevice({"paced", true, 40});
  HWAVEOUT h = Open(id);
  Buffers b(std::vector<std::uint32_t>(10, 17640));  // 10 x 0.1 s
  WriteAll(h, b);
  std::this_thread::sleep_for(30ms);
  ASSERT_EQ(waveOutReset(h), MMSYSERR_NOERROR);
  EXPECT_EQ(rec_.Done(), 10u);
  for (auto& hdr : b.headers) {
    EXPECT_TRUE(hdr.dwFlags & WHDR_DONE);
    EXPECT_FALSE(hdr.dwFlags & WHDR_INQUEUE);
  }
  EXPECT_EQ(Samples(h), 0u);
  EXPECT_LT(MemoryDeviceBytes(id).size(), b.data.size());
  // The device goes on with what comes next.
  ClearMemoryDevice(id);
  Buffers more({4000, 4000});
  WriteAll(h, more);
  ASSERT_TRUE(rec_.WaitDone(12));
  EXPECT_TRUE(MemoryDeviceBytes(id) == more.data);
  EXPECT_EQ(waveOutClose(h), MMSYSERR_NOERROR);
}

// A realtime device takes the samples at their rate; a fast one at once.
TEST_F(WaveOut, RealTimePace) {
  std::uint32_t id = AddMemoryDevice({"paced", true, 20});
  HWAVEOUT h = Open(id);
  Buffers b(std::vector<std::uint32_t>(6, 8820));  // 0.3 s
  auto start = std::chrono::steady_clock::now();
  WriteAll(h, b);
  ASSERT_TRUE(rec_.WaitDone(6));
  EXPECT_GE(std::chrono::steady_clock::now() - start, 280ms);
  EXPECT_EQ(waveOutClose(h), MMSYSERR_NOERROR);
}

// The completion handler refills and requeues its header at once, as a driver does in
// callback mode: a long stream through four headers comes out whole.
TEST_F(WaveOut, RequeueFromTheCallback) {
  std::uint32_t id = AddMemoryDevice();
  std::string source(200 * 1000, 0);
  for (size_t i = 0; i < source.size(); ++i) source[i] = static_cast<char>(i % 253);
  size_t sent = 0;
  std::mutex m;
  std::vector<std::vector<char>> areas(4, std::vector<char>(1000));
  std::vector<WAVEHDR> hdrs(4);
  auto fill = [&](HWAVEOUT h, WAVEHDR* hdr) {
    std::lock_guard lock(m);
    if (sent >= source.size()) return;
    std::memcpy(hdr->lpData, source.data() + sent, 1000);
    sent += 1000;
    hdr->dwBufferLength = 1000;
    EXPECT_EQ(waveOutWrite(h, hdr, sizeof *hdr), MMSYSERR_NOERROR);
  };
  rec_.onDone = fill;
  HWAVEOUT h = Open(id);
  waveOutPause(h);
  for (size_t i = 0; i < 4; ++i) {
    hdrs[i] = {};
    hdrs[i].lpData = areas[i].data();
    waveOutPrepareHeader(h, &hdrs[i], sizeof hdrs[i]);
    fill(h, &hdrs[i]);
  }
  waveOutRestart(h);
  ASSERT_TRUE(rec_.WaitDone(200));
  std::this_thread::sleep_for(10ms);
  EXPECT_TRUE(MemoryDeviceBytes(id) == source);
  EXPECT_EQ(waveOutClose(h), MMSYSERR_NOERROR);
}

// Real ALSA: the file plugin records exactly what the device played.
TEST_F(WaveOut, AlsaFilePluginRecordsTheBytes) {
  qltest::TempDir dir;
  std::string raw = dir / "out.raw";
  std::uint32_t id = AddAlsaDevice(
      "rec", "Recorder",
      "pcm.rec { type file slave.pcm { type null } file \"" + raw + "\" format \"raw\" }");
  WAVEFORMATEX f = Cd();
  ASSERT_EQ(waveOutOpen(nullptr, id, &f, 0, 0, WAVE_FORMAT_QUERY), MMSYSERR_NOERROR);
  HWAVEOUT h = Open(id);
  ASSERT_NE(h, nullptr);
  Buffers b({17640, 17640, 4410 * 4, 1000, 3, 1});
  WriteAll(h, b);
  ASSERT_TRUE(rec_.WaitDone(b.headers.size()));
  EXPECT_EQ(Samples(h), b.data.size() / 4);
  ASSERT_EQ(waveOutClose(h), MMSYSERR_NOERROR);
  std::string got = qltest::ReadFile(raw);
  EXPECT_EQ(got.size(), b.data.size());
  EXPECT_TRUE(got == b.data);
}

// A PCM that its configuration does not define, or a configuration that does not parse.
TEST_F(WaveOut, AlsaDeviceThatCannotOpen) {
  WAVEFORMATEX f = Cd();
  HWAVEOUT h = nullptr;
  std::uint32_t missing = AddAlsaDevice("nope", "", "pcm.other { type null }");
  std::uint32_t broken = AddAlsaDevice("x", "", "pcm.x { type ");
  for (std::uint32_t id : {missing, broken}) {
    EXPECT_EQ(waveOutOpen(&h, id, &f, 0, 0, CALLBACK_NULL), MMSYSERR_NODRIVER);
    EXPECT_EQ(waveOutOpen(nullptr, id, &f, 0, 0, WAVE_FORMAT_QUERY), MMSYSERR_NODRIVER);
  }
  WAVEOUTCAPS caps;
  ASSERT_EQ(waveOutGetDevCaps(missing, &caps, sizeof caps), MMSYSERR_NOERROR);
  EXPECT_STREQ(caps.szPname, "nope");
}

// The null PCM of ALSA's own configuration, as listed among the hints.
TEST_F(WaveOut, AlsaNullDevice) {
  std::uint32_t id = AddAlsaDevice("null", "Null output");
  WAVEFORMATEX f = Cd();
  WAVEFORMATEX bad{WAVE_FORMAT_PCM, 2, 44100, 176400, 3, 16, 0};  // block align wrong
  EXPECT_EQ(waveOutOpen(nullptr, id, &bad, 0, 0, WAVE_FORMAT_QUERY), WAVERR_BADFORMAT);
  HWAVEOUT h = Open(id, f);
  ASSERT_NE(h, nullptr);
  waveOutPause(h);
  Buffers b(std::vector<std::uint32_t>(8, 8192));
  WriteAll(h, b);
  waveOutRestart(h);
  ASSERT_TRUE(rec_.WaitDone(8));
  EXPECT_EQ(Samples(h), b.data.size() / 4);
  EXPECT_EQ(waveOutReset(h), MMSYSERR_NOERROR);
  EXPECT_EQ(Samples(h), 0u);
  EXPECT_EQ(waveOutClose(h), MMSYSERR_NOERROR);
}

}  // namespace
