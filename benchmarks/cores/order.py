#!/usr/bin/env python3
"""Which worker ran first in each period, from the period probe's samples.

  order.py PROBE.TXT

The probe (benchmarks/timing/period_probe.cpp) stamps every usleep call; a
loop that keeps its own time calls usleep right after its period's work, so
the stamp is where that work ended. The drive console creates the sampler,
the speed loop and the run controller in that order (the probe's real-time
threads, attr=1). For the speed loop and the run controller this prints how
long before the sampler's next stamp (its next publish) each period's work
ended: a few hundredths of a millisecond, period after period, means the
loop ran just before the sampler and acted on the sample of the period
before. A drive whose loops wait for the sampler calls usleep in the sampler
alone, and this says so.
"""
import bisect
import sys

NAMES = ["encoder sampler", "speed loop", "run controller"]


def main():
    if len(sys.argv) != 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    rt, stamps = [], {}
    with open(sys.argv[1]) as f:
        for row in f:
            parts = row.split()
            if parts[0] == "thread":
                if parts[2] == "attr=1":
                    rt.append(int(parts[1]))
            elif parts[0] != "stack":
                stamps.setdefault(int(parts[0]), []).append(int(parts[1]) / 1e6)
    workers = dict(zip(NAMES, rt))
    sampler = stamps.get(workers.get(NAMES[0]), [])
    if not sampler:
        print("no sampler periods in the probe")
        return 1
    for name in NAMES[1:]:
        own = stamps.get(workers.get(name), [])
        if not own:
            print("%s: no period of its own (it waits for the sampler's exchanges)" % name)
            continue
        before = []
        for t in own:
            i = bisect.bisect_left(sampler, t)
            if i < len(sampler):
                before.append(sampler[i] - t)
        before.sort()
        n = len(before)
        print("%s: work ends before the sampler's next publish by p10 %.3f ms, median %.3f ms, "
              "p90 %.3f ms; within 1 ms in %.0f %% of %d periods"
              % (name, before[n // 10], before[n // 2], before[9 * n // 10],
                 100.0 * sum(1 for b in before if b < 1.0) / n, n))
    return 0


if __name__ == "__main__":
    sys.exit(main())
