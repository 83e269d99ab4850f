#include "Chains.h"

namespace ripper {

void InitStages(const TStages& s) {
  if (s.equalizer) {
    s.equalizer->SetSampleRate(44100);
    s.equalizer->SetFFTLength(512);
    SetupTwelveBands(*s.equalizer);
  }
  if (s.metronome) {
    s.metronome->SetStretch(2);
    s.metronome->SetOverlapType(otSOLA);
    s.metronome->SetDivSize(kMetronomeDivSize);
  }
  if (s.slowDown) s.slowDown->SetPitch(-50);
}

TMMDSPComponent* LinkStages(TMMDSPComponent* first, const TStages& s) {
  TMMDSPComponent* last = first;
  auto append = [&](TMMDSPComponent* stage) {
    if (!stage) return;
    stage->SetInput(last);
    last = stage;
  };
  append(s.pitch);
  append(s.volume);
  // The stretcher makes the whole half-speed stream at the source's rate (and passes the audio
  // unchanged while half speed is off); the slow-down is not linked behind it.
  append(s.metronome);
  append(s.equalizer);
  return last;
}

void InitPlayback(TMMRingBuffer& ring, TMMWaveOut& waveOut, TMMConnector& connector) {
  ring.SetNumBuffers(kRingBuffers);
  ring.SetBufferSize(kRingBufferSize);
  ring.SetQueueMode(qmRead);
  waveOut.SetNumBuffers(kWaveOutBuffers);
  waveOut.SetBufferSize(kWaveOutBufferSize);
  waveOut.TimeFormat = tfMillisecond;
  waveOut.SetOutput(&connector);
}

void LinkPlayback(TMMDSPComponent& source, TMMRingBuffer& ring, const TStages& stages,
                  TMMWaveOut& waveOut) {
  ring.SetInput(&source);
  // The output lets go of its old input first, so a stage that leaves the chain is free.
  waveOut.SetInput(&ring);
  waveOut.SetInput(LinkStages(&ring, stages));
}

void InitTrigger(TMMTrigger& trigger) {
  // The interval stays at a new trigger's 0 (as fast as the chain allows): setting it, even to
  // 0, stores at least 1 ms, a pause after every buffer.
  trigger.SetBufferSize(kTriggerBufferSize);
}

void LinkRecording(TMMDSPComponent& reader, TMMACMConverter& converter, TMMTrigger& trigger,
                   TMMDSPComponent& sink) {
  converter.SetInput(&reader);
  trigger.SetInput(&converter);
  sink.SetInput(&trigger);
}

}  // namespace ripper
