#include "BatchExternalEnc.h"

TBatchBaseEnc::TBatchBaseEnc(std::string wave_dir, std::string wave_name, std::string mp3_dir,
                             std::string mp3_name)
    : wave_dir_(std::move(wave_dir)),
      wave_name_(std::move(wave_name)),
      mp3_dir_(std::move(mp3_dir)),
      mp3_name_(std::move(mp3_name)) {}

void TBatchBaseEnc::Start(std::unique_ptr<TBatchBaseEnc> job) {
  std::thread([job = std::move(job)]() mutable {
    job->Execute();
    job.reset();
  }).detach();
}
