#!/usr/bin/env python3
"""Chirp for the half-speed comparison, and how well a half-speed output keeps its pitch track.

  pitch_track.py make OUT.wav SECONDS         an exponential chirp 100 Hz -> 4 kHz, stereo
  pitch_track.py score SECONDS FILE.wav ...   per file: length ratio, and the frequency measured
                                              by zero crossings in 50 ms windows against the
                                              input's frequency at half the time
"""
import array, math, statistics, sys, wave

RATE, F0, F1 = 44100, 100.0, 4000.0


def make(path, seconds):
    n = int(seconds * RATE)
    k = math.log(F1 / F0) / seconds
    a = array.array('h')
    for i in range(n):
        t = i / RATE
        v = int(round(12000 * math.sin(2 * math.pi * F0 * (math.exp(k * t) - 1) / k)))
        a.append(v)
        a.append(v)
    with wave.open(path, 'wb') as w:
        w.setnchannels(2), w.setsampwidth(2), w.setframerate(RATE)
        w.writeframes(a.tobytes())


def score(seconds, path):
    with wave.open(path, 'rb') as w:
        frames = w.getnframes()
        a = array.array('h', w.readframes(frames))
    left = a[::2]
    k = math.log(F1 / F0) / seconds
    win = RATE // 20
    errors = []
    # Windows well inside the sweep (the ends hold the first and last half second).
    for at in range(RATE, len(left) - 2 * RATE, win):
        seg = left[at:at + win]
        crossings = sum(1 for i in range(1, len(seg)) if (seg[i - 1] < 0) != (seg[i] < 0))
        measured = crossings / 2 / (win / RATE)
        want = F0 * math.exp(k * (at + win / 2) / RATE / 2)
        errors.append(abs(measured / want - 1))
    errors.sort()
    within = sum(1 for e in errors if e < 0.03) / len(errors)
    print("%-28s length %.4f x input, pitch error median %.2f %%, 95th percentile %.2f %%, "
          "%.1f %% of 50 ms windows within 3 %%" %
          (path.rsplit('/', 1)[-1], frames / (seconds * RATE), 100 * statistics.median(errors),
           100 * errors[int(0.95 * (len(errors) - 1))], 100 * within))


if __name__ == '__main__':
    if sys.argv[1] == 'make':
        make(sys.argv[2], float(sys.argv[3]))
    else:
        for f in sys.argv[3:]:
            score(float(sys.argv[2]), f)
