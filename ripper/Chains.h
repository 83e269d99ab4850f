#pragma once
// The two chains of the CD ripper with their initial settings, built the same way by the
// CD-extraction window, `trackwell play`, `trackwell rip` and `trackwell process`:
//   playback:  source -> RingBuffer -> [Pitch] -> [Volume] -> [Metronome]
//              -> [Equalizer] -> WaveOut -> Connector
//   recording: FCDReader -> ACMConverter -> Trigger -> WaveFile or MP3Encoder
// The components belong to the caller; these functions only set and link them (on the thread
// that owns the components, while they are not running).
#include "MMACMCvt.h"
#include "MMConnect.h"
#include "MMEqualiz.h"
#include "MMMetronome.h"
#include "MMPitch.h"
#include "MMRingBf.h"
#include "MMTrigg.h"
#include "MMVolume.h"
#include "MMWavOut.h"

namespace ripper {

// One trigger buffer size for every recording and offline chain: 35280 bytes is 200 ms of CD
// audio (a whole number of sample frames in every common format) and 68.9 blocks of the
// equalizer's 512-frame transform.
inline constexpr int kTriggerBufferSize = 35280;
inline constexpr int kRingBuffers = 50, kRingBufferSize = 32768;
inline constexpr int kWaveOutBuffers = 20, kWaveOutBufferSize = 8192;
inline constexpr int kMetronomeDivSize = 516;

// The optional stages between the source and the sink, in the chain's order. A null stage is
// left out; the caller sets each stage's own values (pitch, volume, gains) before or after.
struct TStages {
  TMMPitch* pitch = nullptr;
  TMMVolume* volume = nullptr;
  TMMMetronome* metronome = nullptr;  // half speed
  TMMPitch* slowDown = nullptr;       // set up at pitch -50 but not linked: the stretcher
                                      // makes the half-speed stream on its own
  TMMEqualizer* equalizer = nullptr;
};

// The initial settings of the stages (equalizer: twelve bands at 44.1 kHz, FFT 512; metronome:
// stretch 2, SOLA, division 516; slow-down: pitch -50).
void InitStages(const TStages& stages);
// Links the stages behind `first` and returns the last component (first when there are none).
TMMDSPComponent* LinkStages(TMMDSPComponent* first, const TStages& stages);

// The playback chain's ring buffer and output with their initial settings.
void InitPlayback(TMMRingBuffer& ring, TMMWaveOut& waveOut, TMMConnector& connector);
// source -> ring -> stages -> waveOut (-> connector, linked by InitPlayback).
void LinkPlayback(TMMDSPComponent& source, TMMRingBuffer& ring, const TStages& stages,
                  TMMWaveOut& waveOut);

// The recording chain: the trigger's settings, then reader -> converter -> trigger -> sink.
void InitTrigger(TMMTrigger& trigger);
void LinkRecording(TMMDSPComponent& reader, TMMACMConverter& converter, TMMTrigger& trigger,
                   TMMDSPComponent& sink);

}  // namespace ripper
