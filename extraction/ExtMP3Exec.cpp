#include "ExtMP3Exec.h"

TBatchExtMP3Exec::TBatchExtMP3Exec(TFormExtMP3Encoder& dialog,
                                   std::function<void(int)> count_change, std::string wave_dir,
                                   std::string wave_name, std::string mp3_dir, std::string mp3_name,
                                   std::function<void(const ripper::TEncodeResult&)> done)
    : TBatchBaseEnc(std::move(wave_dir), std::move(wave_name), std::move(mp3_dir),
                    std::move(mp3_name)),
      dialog_(&dialog),
      alive_(dialog.alive().state()),
      count_change_(std::move(count_change)),
      done_(std::move(done)) {}

void TBatchExtMP3Exec::Execute() {
  // Runs fn on the user-interface thread while the dialog lives.
  auto post = [this](std::function<void()> fn) {
    ql::Dispatch().Post([alive = alive_, fn = std::move(fn)] {
      std::lock_guard lock(alive->mutex);
      if (alive->alive) fn();
    });
  };
  if (count_change_) post([fn = count_change_] { fn(+1); });
  ripper::TEncodeResult result =
      TFormExtMP3Encoder::RunEncoder(alive_, dialog_, WaveDir(), WaveName(), Mp3Dir(), Mp3Name());
  bool ran = result.status != ripper::TEncodeStatus::kNotStarted || !result.message.empty();
  if (done_ && ran) post([fn = done_, result] { fn(result); });
  if (count_change_) post([fn = count_change_] { fn(-1); });
}
