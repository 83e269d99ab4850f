#pragma once
// TBatchExtMP3Exec: the job of one external encoding. It counts itself in while it runs, has
// the dialog run the encoder on the finished wave file (which deletes the wave only when the
// encoder succeeded) and reports the outcome.
#include <functional>

#include "BatchExternalEnc.h"
#include "EncoderJob.h"
#include "ExtMP3Encoder.h"

class TBatchExtMP3Exec : public TBatchBaseEnc {
 public:
  // count_change(+1 / -1) and done(result) run on the user-interface thread while the dialog
  // lives; done is not called when the dialog went before the job could read it.
  TBatchExtMP3Exec(TFormExtMP3Encoder& dialog, std::function<void(int)> count_change,
                   std::string wave_dir, std::string wave_name, std::string mp3_dir,
                   std::string mp3_name,
                   std::function<void(const ripper::TEncodeResult&)> done = nullptr);

 protected:
  void Execute() override;

 private:
  TFormExtMP3Encoder* dialog_;
  std::shared_ptr<ql::Alive::State> alive_;
  std::function<void(int)> count_change_;
  std::function<void(const ripper::TEncodeResult&)> done_;
};
