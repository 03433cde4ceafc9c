"""Reading one simulated run: the simulator's log (the ground truth) and the
program's transcript (what it said it did), for sim/report.py."""
import csv
import math
import os
import re
from urllib.parse import unquote

FULL = 127
KINDS = {0: "straight", 1: "rotation", 2: "arc", 3: "fast straight"}


def read_log(path):
    """The state rows, the motor frames, the ultrasonic readings and the other
    events: the program's output lines, fault injections and the stop after
    them, signals, each as (time, detail)."""
    states, frames, uss = [], [], []
    events = {"output": [], "fault": [], "fault_stop": [], "signal": []}
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
            elif row["event"] in events:
                # Output lines come %XX-escaped (the log's comma, its quote, '%').
                events[row["event"]].append((t, unquote(row["detail"] or "")))
    return states, frames, uss, events


def program_lines(run_dir, events):
    """The program's output lines as (time, text): from the log, where the
    simulator stamped each as it arrived; else from transcript.txt without
    times (None); None when there is neither."""
    if events["output"]:
        return events["output"]
    path = os.path.join(run_dir, "transcript.txt")
    if not os.path.exists(path):
        return None
    with open(path, encoding="utf-8", errors="replace") as f:
        return [(None, line) for line in f.read().splitlines()]


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


MODE_LINES = {"straight mode selected": 0, "rotae mode selected": 1}
END_LINE = "sum_diff_l_r="
FAULT_LINE = "drive fault: "


def read_program(lines):
    """The moves the program commanded and its squaring readings, in order.
    Each mark may follow the text of a prompt still on the line (the drive
    console's prompts end without a newline, so the next line printed joins
    them).

    A move starts at the line that names its target (a patrol's
    `sequence_num=` record, the wall alignment's distance move and
    rotations) or, for a move nothing named, at the run controller's
    "... mode selected" line; it ends at its `sum_diff_l_r=` line, or at a
    "drive fault: " line (the drive stopped it). Each move is a dict: kind,
    target (None when no line names it), start and end (times, None when the
    lines have none; end None too when it never ended), ended, by_fault.
    """
    commanded, pairs = [], []
    open_move = None

    def start(t, kind, target, mode_seen=False):
        nonlocal open_move
        open_move = {"kind": kind, "target": target, "start": t, "end": None, "ended": False,
                     "by_fault": False, "mode_seen": mode_seen}
        commanded.append(open_move)

    def end(t, by_fault=False):
        nonlocal open_move
        if open_move is not None:
            open_move.update(end=t, ended=True, by_fault=by_fault)
            open_move = None

    for i, (t, line) in enumerate(lines):
        m = re.search(r"sequence_num=\d+\s+style=(-?\d+)\s+value=(-?\d+)", line)
        if m and int(m.group(1)) in KINDS:
            start(t, int(m.group(1)), float(m.group(2)))
        m = re.search(r"ref_dist=(-?\d+)\s+cur_dist = (-?\d+)", line)
        if m:
            pairs.append(None)  # the distance phase's two readings
            if int(m.group(2)) != 999:
                start(t, 0, float(int(m.group(2)) - int(m.group(1))))
        m = re.search(r"diff_uss=(-?\d+)\s+ref_angle=\s*(-?[\d.]+)", line)
        if m:
            start(t, 1, float(m.group(2)))
        mode = next((kind for text, kind in MODE_LINES.items() if line.endswith(text)), None)
        if mode is not None:
            if open_move is not None and not open_move["mode_seen"]:
                open_move["mode_seen"] = True  # the named move's own mode line
            else:
                start(t, mode, None, mode_seen=True)
        if END_LINE in line:
            end(t)
        elif FAULT_LINE in line:
            end(t, by_fault=True)
        m = re.search(r"uss_l=(-?\d+)\s+uss_r=\s*(-?\d+)", line)
        if m:
            rotated = i + 1 < len(lines) and "diff_uss=" in lines[i + 1][1]
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

