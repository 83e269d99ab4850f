#!/usr/bin/env python3
"""Times commands in interleaved rounds: round 0 warms up, then every round runs each contender
once (its preparation untimed first), so a machine whose load changes weighs on all alike.
Prints a table of medians and each contender's ratio to the first one.

  interleaved.py RUNS NAME PREPARE COMMAND [NAME PREPARE COMMAND ...]
"""
import os
import shlex
import statistics
import subprocess
import sys
import time

runs = int(sys.argv[1])
args = sys.argv[2:]
cmds = [args[i:i + 3] for i in range(0, len(args), 3)]
wall = {n: [] for n, _, _ in cmds}
cpu = {n: [] for n, _, _ in cmds}
for r in range(runs + 1):
    for name, prepare, cmd in cmds:
        if prepare:
            subprocess.run(prepare, shell=True, check=True)
        t0 = time.monotonic()
        p = subprocess.Popen(shlex.split(cmd))
        _, status, ru = os.wait4(p.pid, 0)
        t = time.monotonic() - t0
        if status != 0:
            sys.exit("%s failed (status %d)" % (name, status))
        if r > 0:
            wall[name].append(t)
            cpu[name].append(ru.ru_utime + ru.ru_stime)
first = cmds[0][0]
print("| Command | median wall [s] | runs [s] | median CPU [s] |")
print("|:---|---:|---:|---:|")
for name, _, _ in cmds:
    print("| `%s` | %.2f | %s | %.2f |" % (name, statistics.median(wall[name]),
          " ".join("%.2f" % t for t in wall[name]), statistics.median(cpu[name])))
for name, _, _ in cmds[1:]:
    print("%s / %s: %.2fx wall, %.2fx CPU (medians)" % (first, name,
          statistics.median(wall[first]) / statistics.median(wall[name]),
          statistics.median(cpu[first]) / statistics.median(cpu[name])))
