#!/usr/bin/python3
"""What really happened in one simulated run, from the simulator's own log.

Usage: sim/report.py RUN_DIR

Reads RUN_DIR/log.csv (the simulator's ground truth, with the program's
output lines stamped as they arrived) or, for a log without them,
RUN_DIR/transcript.txt (what the program said it did). Writes RUN_DIR/truth.txt
and prints the same lines: per move the commanded and the true distance or
angle, how far the heading strayed during straight moves, the motor frames at
full command and a warning when the two wheels swung against each other at
full command; at each squaring the true angle to the surface and the true
distances next to the readings the program went by; for an injected fault,
when it came, when the stop frame after it came and what the program said.
Writes a few of the figures to RUN_DIR/figures.txt as key=value lines and
draws RUN_DIR/plot.png: wheel speeds, decoded motor commands and heading over
time, moves marked. It reads RUN_DIR/summary.txt (the run's robot) and never
writes it.

The program's targets come from its transcript only; every measured figure
comes from the log.
"""
import math
import os
import sys

# The helper modules sit beside this file; no byte-code files are left in the
# source tree.
sys.dont_write_bytecode = True
from report_log import (FAULT_LINE, FULL, KINDS, program_lines, read_log,  # noqa: E402
                        read_program, split_moves, state_at, unwrap)
from report_plot import plot  # noqa: E402


def read_summary(run_dir):
    """The simulator's summary.txt as a dict (empty when there is none)."""
    path = os.path.join(run_dir, "summary.txt")
    if not os.path.exists(path):
        return {}
    with open(path, encoding="utf-8") as f:
        return dict(line.rstrip("\n").split("=", 1) for line in f if "=" in line)


def move_figures(states, heading, driven, t0, t1, track):
    """The true figures of one move: `driven` are its frames that drive a
    wheel, t0 its start and t1 the next move's start (the robot's coasting
    after the stop frame belongs to the move); `track` the run's cm between
    the wheels."""
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
        pts = [(s[1] - side * track / 2 * math.sin(math.radians(h)),
                s[2] + side * track / 2 * math.cos(math.radians(h)))
               for s, h in zip(states[i0:i1 + 1], heading[i0:i1 + 1])]
        wheel_path.append(sum(math.dist(pts[i - 1], pts[i]) for i in range(1, len(pts))))
    full = sum(1 for _, left, right in driven if abs(left) == FULL or abs(right) == FULL)
    against = [(left > 0) for _, left, right in driven
               if abs(left) == FULL and abs(right) == FULL and left * right < 0]
    # A spot turn may hold both wheels at full command against each other;
    # a swing goes both ways.
    swing = len(against) >= 3 and any(against) and not all(against)
    return {"t0": t0, "t1": t1, "along": along, "path": path,
            "turned_right": -(heading[i1] - h0), "stray": stray, "wheel_path": wheel_path,
            "frames": len(driven), "full": full, "swing": swing, "against": len(against)}


def timed_moves(commanded, frames, end_of_run):
    """Each commanded move with the frames that drive a wheel after the
    previous move's end line, up to its own end line (to the next move's
    start line when it has none). A line is stamped when the simulator read
    it, a little after the program wrote it, so a move's first frame can be
    stamped before its start line; the end line before it is written well
    before, and a frame after a move's end line is its stop frame. Returns
    (move, driven frames, t0, span) per move; t0 is its first driving frame
    (its start line when none) and span the first and last driving frame,
    for the plot."""
    out, after = [], float("-inf")
    for k, move in enumerate(commanded):
        until = move["end"] if move["ended"] else \
            commanded[k + 1]["start"] if k + 1 < len(commanded) else end_of_run
        driven = [f for f in frames if after < f[0] <= until and (f[1], f[2]) != (0, 0)]
        t0 = driven[0][0] if driven else move["start"]
        out.append((move, driven, t0, (t0, driven[-1][0] if driven else t0)))
        after = until
    return out


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


def describe_move(n, kind, target, fig, move=None):
    """One move's line; `move` (from the program's timed lines) says whether
    and how it ended."""
    name = KINDS[kind]
    frames = f"{fig['full']} of {fig['frames']} motor frames at full command"
    if kind == 1:
        want = f"{target:.1f}°" if target is not None else "?"
        claim = f"commanded {want} to the right"
    else:
        want = f"{target:.0f} cm" if target is not None else "?"
        claim = f"commanded {want}" + (" of the {wheel} wheel" if kind == 2 else "")
    if move is not None and not move["ended"]:
        running = "still running when the program ended" if move.get("last") else \
            "not ended when the next move started"
        claim = running if target is None else f"{claim}, {running}"
    if move is not None and move["by_fault"]:
        frames += "; stopped by the drive fault"
    if kind == 1:
        return f"move {n} {name}: {claim}, true {fig['turned_right']:.1f}°; {frames}"
    if kind == 2:
        # Forward arcs count the left wheel, backward ones the right.
        wheel = "right" if target is not None and target < 0 else "left"
        travelled = fig["wheel_path"][1 if wheel == "right" else 0]
        return (f"move {n} {name}: {claim.format(wheel=wheel)}, true {travelled:.1f} cm"
                f" (centre path {fig['path']:.1f} cm, turned {fig['turned_right']:.1f}° to the "
                f"right); {frames}")
    return (f"move {n} {name}: {claim}, true {fig['along']:.1f} cm along the start "
            f"heading (path {fig['path']:.1f} cm), heading strayed up to {fig['stray']:.1f}°; "
            f"{frames}")


def fault_report(events, lines):
    """The truth lines and summary keys of an injected fault: when it came,
    the first stop frame after it (none when the run was ended by a signal
    first), the detection time and the program's "drive fault: " line."""
    if not events["fault"]:
        return [], {}
    injected, name = events["fault"][0]
    out = [f"fault {detail} injected at {t:.2f} s" for t, detail in events["fault"]]
    said = next((text[text.index(FAULT_LINE):] for t, text in lines or []
                 if FAULT_LINE in text and (t is None or t >= injected)), None)
    keys = {"fault": name, "fault_injected": f"{injected:.4f}", "fault_stop": "none",
            "fault_detection": "none",
            "fault_said": said[len(FAULT_LINE):] if said is not None else "none"}
    told = f'the program said "{said}"' if said is not None else "the program said nothing"
    if events["fault_stop"]:
        stop = events["fault_stop"][0][0]
        keys.update(fault_stop=f"{stop:.4f}", fault_detection=f"{stop - injected:.3f}")
        out.append(f"fault detection: first stop frame after it at {stop:.2f} s, "
                   f"{stop - injected:.2f} s after the injection; {told}")
    else:
        ended = (f" before the run was interrupted ({events['signal'][0][1]}) at "
                 f"{events['signal'][0][0]:.2f} s" if events["signal"] else "")
        out.append(f"fault detection: no stop frame after it{ended}; {told}")
    return out, keys


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


def timeliness_warning(summary):
    """One line when the simulated hardware fell behind real time: the run's
    figures are then the simulator's lateness as much as the program's."""
    try:
        with open(summary, encoding="utf-8") as f:
            keys = dict(line.rstrip("\n").split("=", 1) for line in f if "=" in line)
    except OSError:
        return []
    if keys.get("sim_realtime") != "no":
        return []
    return [f"WARNING: the simulator fell behind real time (physics up to "
            f"{keys.get('sim_physics_late_max_ms')} ms late, device nodes "
            f"{keys.get('sim_device_late_max_ms')} ms, encoder counts up to "
            f"{keys.get('sim_reply_age_max_ms')} ms old, a byte on a pty "
            f"{keys.get('sim_pty_late_max_ms')} ms in the kernel, "
            f"{keys.get('sim_physics_dropped_ms')} ms dropped)"]


def main():
    if len(sys.argv) != 2:
        print("usage: sim/report.py RUN_DIR", file=sys.stderr)
        return 2
    run_dir = sys.argv[1]
    # The robot is the run's own (the world may give it another track).
    track = read_summary(run_dir).get("track")
    if track is None:
        print(f"sim/report.py: {os.path.join(run_dir, 'summary.txt')} gives no track",
              file=sys.stderr)
        return 2
    track = float(track)
    states, frames, uss, events = read_log(os.path.join(run_dir, "log.csv"))
    if not states:
        # Shorter than one state row (20 ms): nothing moved.
        states = [(0.0, 0.0, 0.0, 0.0, 0.0, 0.0)]
    heading = unwrap(states)
    lines = program_lines(run_dir, events)
    commanded, pairs = read_program(lines) if lines is not None else (None, None)
    if not commanded and events["output"]:
        commanded = None  # a program that runs no move (a bench test of its own frames)
    out, kinds, spans, swings, full = [], [], [], 0, 0
    end_of_run = states[-1][0] + 1
    if commanded and commanded[0]["start"] is not None:
        # The program's lines carry their times: each move gets the frames
        # between its start and the next move's.
        commanded[-1]["last"] = True
        moves = timed_moves(commanded, frames, end_of_run)
        for k, (move, driven, t0, span) in enumerate(moves):
            t1 = moves[k + 1][2] if k + 1 < len(moves) else end_of_run
            fig = move_figures(states, heading, driven, t0, t1, track)
            kinds.append(move["kind"])
            spans.append(span)
            out.append((move["kind"], move["target"], fig, move))
    else:
        # Lines without times (a transcript alone) pair by count, or not at all.
        runs = split_moves(frames)
        targets, note = pair_targets(
            None if commanded is None else [(m["kind"], m["target"]) for m in commanded], runs)
        if note:
            out.append(note)
        for k, (a, b) in enumerate(runs):
            t0 = frames[a][0]
            t1 = frames[runs[k + 1][0]][0] if k + 1 < len(runs) else end_of_run
            fig = move_figures(states, heading, frames[a:b], t0, t1, track)
            kind, target = targets[k] if targets else (guess_kind(fig), None)
            kinds.append(kind)
            spans.append((t0, frames[b - 1][0]))
            out.append((kind, target, fig, None))
    lines_out = []
    n = 0
    for item in out:
        if isinstance(item, str):
            lines_out.append(item)
            continue
        n += 1
        kind, target, fig, move = item
        lines_out.append(describe_move(n, kind, target, fig, move))
        full += fig["full"]
        if fig["swing"]:
            swings += 1
            lines_out.append(f"WARNING: move {n}: the wheels swung against each other at full "
                             f"command ({fig['against']} frames at ±{FULL} in opposite directions)")
    if n == 0:
        lines_out.append("no move: no motor frame drove a wheel")
    found = squarings(pairs, uss)
    for k, (claim, left, right) in enumerate(found or [], start=1):
        lines_out.append(describe_squaring(k, claim, left, right))
    fault_lines, fault_keys = fault_report(events, lines)
    lines_out += fault_lines
    lines_out += timeliness_warning(os.path.join(run_dir, "summary.txt"))
    with open(os.path.join(run_dir, "truth.txt"), "w", encoding="utf-8") as f:
        f.write("".join(line + "\n" for line in lines_out))
    # Its own file: summary.txt is the simulator's alone, the same whether a
    # report ran or not.
    keys = {"moves": n, "full_command_frames": full, "swings": swings, **fault_keys}
    with open(os.path.join(run_dir, "figures.txt"), "w", encoding="utf-8") as f:
        f.write("".join(f"{key}={value}\n" for key, value in keys.items()))
    for line in lines_out:
        print(line)
    marks = [(t, f"fault {detail}", "tab:orange") for t, detail in events["fault"][:1]]
    marks += [(t, "stop", "tab:purple") for t, _ in events["fault_stop"][:1]]
    try:
        plot(run_dir, states, heading, frames, spans, kinds, marks)
    except ImportError:
        print("(no plot.png: matplotlib is missing; scripts/deps python3-matplotlib installs it)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
