#!/usr/bin/env bash
# Whole-process comparison: `trackwell process --eq` on a 10-minute 44.1 kHz 16-bit stereo WAV
# against ffmpeg's firequalizer and sox's equalizer with the same twelve gains, one run.
# Usage: bench/audio_process_compare.sh [BUILD_DIR] [MINUTES]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build}
minutes=${2:-10}
tw="$build/bin/trackwell"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Music-like test signal: pink noise under a few tones.
ffmpeg -loglevel error -f lavfi -i "anoisesrc=color=pink:amplitude=0.25:duration=$((minutes * 60))" \
  -f lavfi -i "sine=frequency=440:duration=$((minutes * 60))" \
  -filter_complex "[0][1]amix=inputs=2,aformat=sample_fmts=s16:channel_layouts=stereo" \
  -ar 44100 -c:a pcm_s16le "$work/in.wav"

# The CD-extraction window's twelve bands (Hz) and one set of gains (dB).
lo=(10 31 61 121 181 301 601 1201 1801 3001 6001 12001)
hi=(30 60 120 180 300 600 1200 1800 3000 6000 12000 20000)
g=(3 2 1 0 -1 -2 -3 -2 0 2 4 6)
eqarg=$(IFS=,; echo "${g[*]}")
entries=""
soxeq=""
for i in "${!g[@]}"; do
  c=$(( (lo[i] + hi[i]) / 2 )); w=$(( hi[i] - lo[i] ))
  entries+="entry(${c},${g[i]});"
  soxeq+=" equalizer ${c} ${w}h ${g[i]}"
done
entries=${entries%;}

hyperfine --warmup 1 --runs ${QL_BENCH_RUNS:-5} --export-markdown "$work/result.md" \
  -n "trackwell process --eq" "$tw process $work/in.wav $work/tw.wav --eq $eqarg" \
  -n "ffmpeg firequalizer" \
  "ffmpeg -loglevel error -y -i $work/in.wav -af \"firequalizer=gain_entry='$entries'\" -c:a pcm_s16le $work/ff.wav" \
  -n "sox equalizer x12" "sox $work/in.wav $work/sox.wav$soxeq"
cat "$work/result.md"
