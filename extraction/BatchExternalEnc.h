#pragma once
// TBatchBaseEnc: a job thread that starts running when it is created and frees itself when its
// body ends. It carries the wave and MP3 directories and file names of one encoding.
#include <memory>
#include <string>
#include <thread>

class TBatchBaseEnc {
 public:
  TBatchBaseEnc(std::string wave_dir, std::string wave_name, std::string mp3_dir,
                std::string mp3_name);
  virtual ~TBatchBaseEnc() = default;
  TBatchBaseEnc(const TBatchBaseEnc&) = delete;
  TBatchBaseEnc& operator=(const TBatchBaseEnc&) = delete;

  const std::string& WaveDir() const { return wave_dir_; }
  void SetWaveDir(const std::string& v) { wave_dir_ = v; }
  const std::string& Mp3Dir() const { return mp3_dir_; }
  void SetMp3Dir(const std::string& v) { mp3_dir_ = v; }
  const std::string& WaveName() const { return wave_name_; }
  void SetWaveName(const std::string& v) { wave_name_ = v; }
  const std::string& Mp3Name() const { return mp3_name_; }
  void SetMp3Name(const std::string& v) { mp3_name_ = v; }

  // Starts the job on a thread of its own; the object deletes itself when Execute returns.
  static void Start(std::unique_ptr<TBatchBaseEnc> job);

 protected:
  virtual void Execute() = 0;

 private:
  std::string wave_dir_, wave_name_, mp3_dir_, mp3_name_;
};
