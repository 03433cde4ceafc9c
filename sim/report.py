#!/usr/bin/python3
"""What really happened in one simulated run, from the simulator's own log.

Usage: sim/report.py RUN_DIR

Reads RUN_DIR/log.csv (the simulator's ground truth) and, when present,
RUN_DIR/transcript.txt (what the program said it did). Writes RUN_DIR/truth.txt
and prints the same lines: per move the commanded and the true distance or
angle, how far the heading strayed during straight moves, the motor frames at
full command and a warning when the two wheels swung against each other at
full command; at each squaring the true angle to the surface and the true
distances next to the readings the program went by. Adds a few of the figures
to RUN_DIR/summary.txt as key=value lines and draws RUN_DIR/plot.png: wheel
speeds, decoded motor commands and heading over time, moves marked.

The program's targets come from its transcript only; every measured figure
comes from the log.
"""
import math
import os
import sys

# The helper modules sit beside this file; no byte-code files are left in the
# source tree.
sys.dont_write_bytecode = True
from report_log import (FULL, KINDS, read_log, read_transcript, split_moves,  # noqa: E402
                        state_at, unwrap)
from report_plot import plot  # noqa: E402

TRACK = 28.8  # cm between the wheels


def move_figures(states, heading, frames, moves, k):
    a, b = moves[k]
    t0 = frames[a][0]
    t1 = frames[moves[k + 1][0]][0] if k + 1 < len(moves) else states[-1][0] + 1
    i0, i1 = state_at(states, t0), state_at(states, t1)
    x0, y0 = states[i0][1], states[i0][2]
    h0 = heading[i0]
    dx, dy = states[i1][1] - x0, states[i1][2] - y0
    along = dx * math.cos(math.radians(h0)) + dy * math.sin(math.radians(h0))
    path = sum(math.hypot(states[i][1] - states[i - 1][1], states[i][2] - states[i - 1][2])
               for i in range(i0 + 1, i1 + 1))
    stray = max((abs(heading[i] - h0) for i in range(i0, i1 + 1)), default=0.0)
    # Each wheel's own path (an arc's target is one wheel's distance).
    wheel_path = []
    for side in (1, -1):  # left, right
        pts = [(s[1] - side * TRACK / 2 * math.sin(math.radians(h)),
                s[2] + side * TRACK / 2 * math.cos(math.radians(h)))
               for s, h in zip(states[i0:i1 + 1], heading[i0:i1 + 1])]
        wheel_path.append(sum(math.dist(pts[i - 1], pts[i]) for i in range(1, len(pts))))
    driven = frames[a:b]
    full = sum(1 for _, left, right in driven if abs(left) == FULL or abs(right) == FULL)
    against = [(left > 0) for _, left, right in driven
               if abs(left) == FULL and abs(right) == FULL and left * right < 0]
    # A spot turn may hold both wheels at full command against each other;
    # a swing goes both ways.
    swing = len(against) >= 3 and any(against) and not all(against)
    return {"t0": t0, "t1": t1, "along": along, "path": path,
            "turned_right": -(heading[i1] - h0), "stray": stray, "wheel_path": wheel_path,
            "frames": len(driven), "full": full, "swing": swing, "against": len(against)}


def guess_kind(fig):
    return 1 if abs(fig["turned_right"]) > 2 * max(fig["path"], 1.0) else 0


def pair_targets(commanded, moves):
    """The commanded moves, one per move the frames show, and a note; or None.

    Moves pair in order only when the counts agree. They often do not: a move
    with a 0 target can end before it drives a frame, and one move can follow
    another without a stop frame between them, so the frames show the two as
    one. No guess is made then (leaving out the 0 targets was tried, and
    paired an arc with an arc and the straight after it); the note lists the
    commanded targets for the reader to match against the true figures.
    """
    if commanded is None:
        return None, ""
    if len(commanded) == len(moves):
        return commanded, ""
    named = ", ".join(f"{KINDS[kind]} {target:g}{'°' if kind == 1 else ' cm'}"
                      for kind, target in commanded)
    return None, (f"(the transcript names {len(commanded)} moves: {named}; the motor frames "
                  f"show {len(moves)}: targets not paired)")


def describe_move(n, kind, target, fig):
    name = KINDS[kind]
    frames = f"{fig['full']} of {fig['frames']} motor frames at full command"
    if kind == 1:
        want = f"{target:.1f}°" if target is not None else "?"
        return (f"move {n} {name}: commanded {want} to the right, true {fig['turned_right']:.1f}°;"
                f" {frames}")
    want = f"{target:.0f} cm" if target is not None else "?"
    if kind == 2:
        # Forward arcs count the left wheel, backward ones the right.
        wheel = "right" if target is not None and target < 0 else "left"
        travelled = fig["wheel_path"][1 if wheel == "right" else 0]
        return (f"move {n} {name}: commanded {want} of the {wheel} wheel, true {travelled:.1f} cm"
                f" (centre path {fig['path']:.1f} cm, turned {fig['turned_right']:.1f}° to the "
                f"right); {frames}")
    return (f"move {n} {name}: commanded {want}, true {fig['along']:.1f} cm along the start "
            f"heading (path {fig['path']:.1f} cm), heading strayed up to {fig['stray']:.1f}°; "
            f"{frames}")


def squarings(pairs, uss):
    """The truth at each squaring's last reading, paired with what the program read."""
    readings = []
    for i in range(0, len(uss) - 1):
        if uss[i][1] == 1 and uss[i + 1][1] == 2:
            readings.append((uss[i], uss[i + 1]))
    if pairs is None or len(readings) != len(pairs):
        return None
    out = []
    for claim, (left, right) in zip(pairs, readings):
        if claim is None or not claim[2]:
            continue
        out.append((claim, left, right))
    return out


def describe_squaring(n, claim, left, right):
    l_cm, r_cm, _ = claim
    said = "square" if abs(l_cm - r_cm) <= 1 else "not square"
    off = (left[2] + right[2]) / 2
    side = "left" if off > 0 else "right"
    return (f"squaring {n}: program read {l_cm} / {r_cm} cm ({said}); true {left[3]:.1f} / "
            f"{right[3]:.1f} cm to the surface, {abs(off):.2f}° off square (turned {side})")


def main():
    if len(sys.argv) != 2:
        print("usage: sim/report.py RUN_DIR", file=sys.stderr)
        return 2
    run_dir = sys.argv[1]
    states, frames, uss = read_log(os.path.join(run_dir, "log.csv"))
    if not states:
        # Shorter than one state row (20 ms): nothing moved.
        states = [(0.0, 0.0, 0.0, 0.0, 0.0, 0.0)]
    heading = unwrap(states)
    moves = split_moves(frames)
    commanded, pairs = read_transcript(os.path.join(run_dir, "transcript.txt"))
    targets, note = pair_targets(commanded, moves)
    lines, kinds, swings, full = [], [], 0, 0
    if note:
        lines.append(note)
    for k in range(len(moves)):
        fig = move_figures(states, heading, frames, moves, k)
        kind, target = targets[k] if targets else (guess_kind(fig), None)
        kinds.append(kind)
        lines.append(describe_move(k + 1, kind, target, fig))
        full += fig["full"]
        if fig["swing"]:
            swings += 1
            lines.append(f"WARNING: move {k + 1}: the wheels swung against each other at full "
                         f"command ({fig['against']} frames at ±{FULL} in opposite directions)")
    if not moves:
        lines.append("no move: no motor frame drove a wheel")
    found = squarings(pairs, uss)
    for n, (claim, left, right) in enumerate(found or [], start=1):
        lines.append(describe_squaring(n, claim, left, right))
    with open(os.path.join(run_dir, "truth.txt"), "w", encoding="utf-8") as f:
        f.write("".join(line + "\n" for line in lines))
    summary = os.path.join(run_dir, "summary.txt")
    own = ("moves=", "full_command_frames=", "swings=")
    kept = []
    if os.path.exists(summary):
        with open(summary, encoding="utf-8") as f:
            kept = [line for line in f if not line.startswith(own)]
    with open(summary, "w", encoding="utf-8") as f:
        f.write("".join(kept) + f"moves={len(moves)}\nfull_command_frames={full}\nswings={swings}\n")
    for line in lines:
        print(line)
    try:
        plot(run_dir, states, heading, frames, moves, kinds)
    except ImportError:
        print("(no plot.png: matplotlib is missing; scripts/deps python3-matplotlib installs it)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
