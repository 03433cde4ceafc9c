#!/usr/bin/env python3
"""Period statistics for benchmarks/timing/run.

  figures.py motor LOG.CSV       speed loop from the simulator's motor frames
  figures.py probe PROBE.TXT     every worker loop from the preloaded probe
  figures.py idle T0 T1 N0 N1 SECONDS
                                 CPU share from utime+stime ticks and schedstat ns
"""
import math
import os
import sys

STOP_FRAMES = {"00 00", "00 00 00 00", "80 80", "80 80 80 80"}
# The order the drive console starts the real-time workers in: encoder_create,
# vel_ctrl_create, then run_ctrl_create for the move.
WORKER_NAMES = ["encoder sampler", "speed loop", "run controller"]


def stats(intervals_ms):
    """count, median, p99 (nearest rank), max and min of a list of intervals."""
    s = sorted(intervals_ms)
    n = len(s)
    if n == 0:
        return None
    mid = s[n // 2] if n % 2 else (s[n // 2 - 1] + s[n // 2]) / 2
    p99 = s[max(0, math.ceil(0.99 * n) - 1)]
    return {"n": n, "median": mid, "p99": p99, "max": s[-1], "min": s[0]}


def line(label, st):
    if st is None:
        return "  %-34s no periods recorded" % label
    return "  %-34s n=%-5d median %6.2f ms   p99 %6.2f ms   max %6.2f ms   (min %5.2f)" % (
        label, st["n"], st["median"], st["p99"], st["max"], st["min"])


def motor(path):
    times = []
    moving = []
    with open(path) as f:
        next(f)
        for row in f:
            cols = row.rstrip("\n").split(",")
            if len(cols) >= 10 and cols[1] == "motor" and not cols[9].startswith("dropped"):
                times.append(float(cols[0]))
                moving.append(cols[9] not in STOP_FRAMES)
    # The move: from the first frame that drives a wheel to the last one.
    driving = [i for i, m in enumerate(moving) if m]
    if not driving:
        print("  no driving frame in %s" % path)
        return
    first, last = driving[0], driving[-1]
    window = times[first:last + 1]
    gaps = [(b - a) * 1000.0 for a, b in zip(window, window[1:])]
    print("  move: %d frames over %.1f s (simulator time %.3f .. %.3f)" % (
        len(window), window[-1] - window[0], window[0], window[-1]))
    print(line("speed loop (motor frame to frame)", stats(gaps)))


def probe(path):
    attrs = {}
    samples = {}
    with open(path) as f:
        for row in f:
            parts = row.split()
            if parts[0] == "thread":
                attrs[int(parts[1])] = parts[2] == "attr=1"
            else:
                samples.setdefault(int(parts[0]), []).append(int(parts[1]))
    workers = sorted(t for t, rt in attrs.items() if rt)
    names = {t: (WORKER_NAMES[i] if i < len(WORKER_NAMES) else "worker %d" % t)
             for i, t in enumerate(workers)}
    names[0] = "console display (main thread)"
    for t in sorted(samples):
        ts = samples[t]
        gaps = [(b - a) / 1e6 for a, b in zip(ts, ts[1:])]
        label = "%s [thread %d]" % (names.get(t, "thread %d" % t), t)
        print(line(label, stats(gaps)))


def idle(t0, t1, n0, n1, seconds):
    wall = float(seconds)
    ticks = int(t1) - int(t0)
    hz = os.sysconf("SC_CLK_TCK")
    print("  utime+stime: %d ticks of 1/%d s in %s s = %.2f %% of one core"
          % (ticks, hz, seconds, 100.0 * ticks / hz / wall))
    on_cpu = (int(n1) - int(n0)) / 1e9
    print("  on a CPU (schedstat, all threads): %.4f s in %s s = %.3f %% of one core"
          % (on_cpu, seconds, 100.0 * on_cpu / wall))


def main():
    kind = sys.argv[1]
    if kind == "motor":
        motor(sys.argv[2])
    elif kind == "probe":
        probe(sys.argv[2])
    elif kind == "idle":
        idle(*sys.argv[2:7])
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main()
