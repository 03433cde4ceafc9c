#!/usr/bin/env python3
"""Period statistics for benchmarks/timing/run.

  figures.py motor LOG.CSV       speed loop from the simulator's motor frames
  figures.py probe PROBE.TXT [CYCLICTEST.TXT]
                                 every worker loop from the preloaded probe, its
                                 page faults and stack depth; with cyclictest's
                                 output, the real-time workers' worst lateness
                                 (worst period - 19 ms) beside that floor
  figures.py floor CYCLICTEST.TXT
                                 the machine's own wake-up latency (cyclictest -q)
  figures.py idle T0 T1 N0 N1 SECONDS
                                 CPU share from utime+stime ticks and schedstat ns
"""
import math
import os
import sys

STOP_FRAMES = {"00 00", "00 00 00 00", "80 80", "80 80 80 80"}
# The order the drive console starts the real-time workers in: encoder_create,
# vel_ctrl_create, then run_ctrl_create for the move. Only the sampler keeps
# its own time (the others follow its exchanges), so only it shows here.
WORKER_NAMES = ["encoder sampler", "speed loop", "run controller"]
PERIOD_MS = 19.0


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


def cyclictest_worst(path):
    """Worst and average latency in ms and wake-up count of cyclictest -q's
    summary line ("T: 0 (pid) P:20 I:19000 C: 1600 Min: 3 Act: 5 Avg: 6 Max: 145",
    microseconds), or None when the file holds none."""
    try:
        with open(path) as f:
            for row in f:
                if row.startswith("T:"):
                    fields = row.replace(":", ": ").split()
                    value = {fields[i].rstrip(":"): fields[i + 1] for i in range(len(fields) - 1)
                             if fields[i].endswith(":")}
                    return (int(value["Max"]) / 1000.0, int(value["Avg"]) / 1000.0,
                            int(value["C"]))
    except (OSError, KeyError, ValueError):
        pass
    return None


def floor(path):
    got = cyclictest_worst(path)
    if got is None:
        print("  floor: no cyclictest figure (%s)" % path)
        return
    worst, avg, count = got
    print("  floor (cyclictest): worst wake-up latency %.3f ms, average %.3f ms over %d wake-ups"
          % (worst, avg, count))


def probe(path, floor_path=None):
    attrs = {}
    samples = {}
    faults = {}
    stacks = {}
    with open(path) as f:
        for row in f:
            parts = row.split()
            if parts[0] == "thread":
                attrs[int(parts[1])] = parts[2] == "attr=1"
            elif parts[0] == "stack":
                stacks[int(parts[1])] = (int(parts[2]), int(parts[3]))
            else:
                t = int(parts[0])
                samples.setdefault(t, []).append(int(parts[1]))
                if len(parts) > 2:
                    faults.setdefault(t, []).append(int(parts[2]))
    workers = sorted(t for t, rt in attrs.items() if rt)
    names = {t: (WORKER_NAMES[i] if i < len(WORKER_NAMES) else "worker %d" % t)
             for i, t in enumerate(workers)}
    names[0] = "console display (main thread)"
    worst = None
    for t in sorted(samples):
        ts = samples[t]
        gaps = [(b - a) / 1e6 for a, b in zip(ts, ts[1:])]
        label = "%s [thread %d]" % (names.get(t, "thread %d" % t), t)
        st = stats(gaps)
        print(line(label, st))
        if t in workers and st is not None and (worst is None or st["max"] > worst[0]):
            worst = (st["max"], names.get(t, "thread %d" % t))
        extra = []
        fs = faults.get(t)
        if fs:
            # A rise between two usleep calls is a fault inside that period.
            inside = sum(b - a for a, b in zip(fs, fs[1:]))
            hit = sum(1 for a, b in zip(fs, fs[1:]) if b > a)
            extra.append("page faults inside periods %d (in %d of %d), %d before the first"
                         % (inside, hit, len(fs) - 1, fs[0]))
        if t in stacks:
            used, size = stacks[t]
            extra.append("stack written %.1f KB deep of %d KB" % (used / 1024.0, size // 1024))
        if extra:
            print("      " + "; ".join(extra))
    if floor_path is None or worst is None:
        return
    late = worst[0] - PERIOD_MS
    got = cyclictest_worst(floor_path)
    if got is None:
        print("  lateness: worst period %.2f ms (%s) = %.2f ms late; no cyclictest floor"
              % (worst[0], worst[1], late))
        return
    print("  lateness: worst period %.2f ms (%s) = %.2f ms late; floor %.3f ms; ratio %.1f"
          % (worst[0], worst[1], late, got[0], late / got[0] if got[0] > 0 else float("inf")))


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
        probe(sys.argv[2], sys.argv[3] if len(sys.argv) > 3 else None)
    elif kind == "floor":
        floor(sys.argv[2])
    elif kind == "idle":
        idle(*sys.argv[2:7])
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main()
