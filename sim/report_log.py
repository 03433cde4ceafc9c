"""Reading one simulated run: the simulator's log (the ground truth) and the
program's transcript (what it said it did), for sim/report.py."""
import csv
import math
import os
import re

FULL = 127
KINDS = {0: "straight", 1: "rotation", 2: "arc", 3: "fast straight"}


def read_log(path):
    states, frames, uss = [], [], []
    with open(path, newline="", encoding="utf-8") as f:
        for row in csv.DictReader(f):
            t = float(row["time"])
            if row["event"] == "state":
                states.append((t, float(row["x"]), float(row["y"]), float(row["heading"]),
                               float(row["v_left"]), float(row["v_right"])))
            elif row["event"] == "motor":
                frames.append((t, int(row["cmd_left"]), int(row["cmd_right"])))
            elif row["event"] == "uss":
                m = re.match(r"ch ([12]) range \S+ reply .* off_square (\S+) perp (\S+)",
                             row["detail"])
                if m:
                    uss.append((t, int(m.group(1)), float(m.group(2)), float(m.group(3))))
    return states, frames, uss


def unwrap(states):
    """Headings without the jump at +-180 degrees."""
    out, prev, total = [], None, 0.0
    for s in states:
        if prev is not None:
            total += math.remainder(s[3] - prev, 360.0)
        else:
            total = s[3]
        prev = s[3]
        out.append(total)
    return out


def split_moves(frames):
    """Runs of motor frames that drive a wheel; a stop frame ends a move."""
    moves, start = [], None
    for i, (_, left, right) in enumerate(frames):
        if (left, right) != (0, 0):
            if start is None:
                start = i
        elif start is not None:
            moves.append((start, i))
            start = None
    if start is not None:
        moves.append((start, len(frames)))
    return moves


def read_transcript(path):
    """The moves the program commanded and its squaring readings, in order."""
    commanded, pairs = [], []
    if not os.path.exists(path):
        return None, None
    with open(path, encoding="utf-8", errors="replace") as f:
        lines = f.read().splitlines()
    for i, line in enumerate(lines):
        m = re.match(r"sequence_num=\d+\s+style=(-?\d+)\s+value=(-?\d+)", line)
        if m and int(m.group(1)) in KINDS:
            commanded.append((int(m.group(1)), float(m.group(2))))
        m = re.match(r"ref_dist=(-?\d+)\s+cur_dist = (-?\d+)", line)
        if m:
            pairs.append(None)  # the distance phase's two readings
            if int(m.group(2)) != 999:
                commanded.append((0, float(int(m.group(2)) - int(m.group(1)))))
        m = re.match(r"diff_uss=(-?\d+)\s+ref_angle=\s*(-?[\d.]+)", line)
        if m:
            commanded.append((1, float(m.group(2))))
        m = re.match(r"uss_l=(-?\d+)\s+uss_r=\s*(-?\d+)", line)
        if m:
            rotated = i + 1 < len(lines) and lines[i + 1].startswith("diff_uss=")
            pairs.append((int(m.group(1)), int(m.group(2)), not rotated))
    return commanded, pairs


def state_at(states, t):
    """Index of the last state row at or before t (0 when none)."""
    lo, hi = 0, len(states)
    while lo < hi:
        mid = (lo + hi) // 2
        if states[mid][0] <= t:
            lo = mid + 1
        else:
            hi = mid
    return max(lo - 1, 0)

