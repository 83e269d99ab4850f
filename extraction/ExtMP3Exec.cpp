#include "ExtMP3Exec.h"

#include "Fs.h"

TBatchExtMP3Exec::TBatchExtMP3Exec(TFormExtMP3Encoder& dialog,
                                   std::function<void(int)> count_change, std::string wave_dir,
                                   std::string wave_name, std::string mp3_dir,
                                   std::string mp3_name)
    : TBatchBaseEnc(std::move(wave_dir), std::move(wave_name), std::move(mp3_dir),
                    std::move(mp3_name)),
      dialog_(&dialog),
      alive_(dialog.alive().state()),
      count_change_(std::move(count_change)) {}

void TBatchExtMP3Exec::Execute() {
  auto count = [this](int delta) {
    if (!count_change_) return;
    ql::Dispatch().Post([alive = alive_, fn = count_change_, delta] {
      std::lock_guard lock(alive->mutex);
      if (alive->alive) fn(delta);
    });
  };
  count(+1);
  TFormExtMP3Encoder::RunEncoder(alive_, dialog_, WaveDir(), WaveName(), Mp3Dir(), Mp3Name());
  ql::fs::DeleteFile(WaveDir() + "/" + WaveName());  // already gone, as a rule
  count(-1);
}
