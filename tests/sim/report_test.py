#!/usr/bin/python3
"""sim/report.py over a hand-made run: a log whose output rows carry the
program's lines with their times. Five moves: a straight one, a 0 cm one that
ends before it drives a frame (the case pairing by count got wrong), the wall
alignment's distance move (its lines stamped after its first frame), a rotation whose wheels swing against each other,
and a move still running when the log ends; one squaring; one fault that no
stop followed. Every expected figure is worked out from the positions below.

Usage: report_test.py [REPORT]  (default: sim/report.py beside this tree)
"""
import os
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
REPORT = os.path.join(HERE, "..", "..", "sim", "report.py")


def pose(t):
    """x, y, heading of the made-up run at time t."""
    if t <= 1.0:
        return 50 * t, 0.0, 0.0  # move 1: 50 cm in 1 s
    if t <= 1.32:
        return 50.0, 0.0, 0.0
    if t <= 1.6:
        return 50 + 10 * (t - 1.32) / 0.28, 0.0, 0.0  # move 3: 10 cm
    if t <= 1.82:
        return 60.0, 0.0, 0.0
    if t <= 2.0:
        return 60.0, 0.0, -20 * (t - 1.82) / 0.18  # move 4: 20 degrees to the right
    if t <= 2.32:
        return 60.0, 0.0, -20.0
    # move 5: 20 cm along -20 degrees by the end of the log at 3.0 s
    d = 20 * (t - 2.32) / 0.68
    return 60 + d * 0.9396926207859084, -d * 0.3420201433256687, -20.0


def motor(t, cmd):
    return (t, "motor", cmd, "00 00")  # the report reads the decoded columns


def frames(first, count, commands):
    """`count` frames 50 ms apart from `first`, the commands taken in turn."""
    return [motor(first + 0.05 * i, commands[i % len(commands)]) for i in range(count)]


def uss(t, ch, off, perp):
    return (t, "uss", None, f"ch {ch} range {perp:.1f} reply 0A 00 latency 2.2 "
            f"off_square {off} perp {perp}")


def output(t, line):
    return (t, "output", None, line.replace("%", "%25").replace(",", "%2C"))


EVENTS = (
    [output(0.0005, "sequence_num=1     style=0      value=50   "),
     output(0.0010, "straight mode selected")]
    + frames(0.005, 20, [(40, 40)] * 9 + [(127, 100)])  # 2 of them at full command
    + [output(1.0005, "sum_diff_l_r=  1.0"), motor(1.005, (0, 0)),
       output(1.2005, "sequence_num=2     style=0      value=0   "),
       output(1.2015, "straight mode selected"), output(1.2105, "sum_diff_l_r=  0.0"),
       uss(1.25, 1, 0.5, 30.0), uss(1.26, 2, 0.5, 30.5),
       output(1.2700, "距離補正スタート"),
       # Stamped as the simulator read them, after the move's first frame.
       output(1.3300, "ref_dist=20     cur_dist = 30"), output(1.3310, "straight mode selected")]
    + frames(1.325, 6, [(35, 35)])
    + [output(1.6005, "sum_diff_l_r=  0.5"), motor(1.605, (0, 0)),
       output(1.7000, "正体補正スタート"),
       uss(1.75, 1, 9.0, 24.0), uss(1.76, 2, 9.0, 19.0),
       output(1.7800, "uss_l=14   uss_r= 9"), output(1.7905, "diff_uss=5      ref_angle=  20.0"),
       output(1.7915, "rotae mode selected")]
    + frames(1.825, 4, [(127, -127), (-127, 127)])
    + [output(2.0005, "sum_diff_l_r= 12.0"), motor(2.005, (0, 0)),
       uss(2.10, 1, 2.0, 31.2), uss(2.11, 2, 3.0, 32.4),
       output(2.1300, "uss_l=10   uss_r= 11"),
       output(2.2000, "左数字=4、右数字=2"),
       output(2.3005, "sequence_num=3     style=0      value=100   "),
       output(2.3015, "straight mode selected")]
    + frames(2.325, 14, [(50, 50)])
    + [(2.5, "fault", None, "wheel_blocked both")]
)


def write_log(path):
    rows = [(round(0.02 * i, 4), "state", None, "") for i in range(151)]  # 0 .. 3.0 s
    rows += EVENTS
    rows.sort(key=lambda r: r[0])
    with open(path, "w", encoding="utf-8") as f:
        f.write("time,event,x,y,heading,v_left,v_right,cmd_left,cmd_right,detail\n")
        for t, event, cmd, detail in rows:
            x, y, h = pose(t)
            left, right = cmd if event == "motor" else (0, 0)
            f.write(f"{t:.4f},{event},{x:.2f},{y:.2f},{h:.2f},0.00,0.00,{left},{right},{detail}\n")


class ReportOverAHandMadeRun(unittest.TestCase):
    def test_moves_pair_with_their_frames_by_time(self):
        with tempfile.TemporaryDirectory(prefix="report test ü'") as run:
            write_log(os.path.join(run, "log.csv"))
            with open(os.path.join(run, "summary.txt"), "w", encoding="utf-8") as f:
                f.write("x=1.00\ntrack=30\n")
            subprocess.run([sys.executable, REPORT, run], check=True, stdout=subprocess.DEVNULL)
            with open(os.path.join(run, "truth.txt"), encoding="utf-8") as f:
                truth = f.read().splitlines()
            with open(os.path.join(run, "summary.txt"), encoding="utf-8") as f:
                summary = f.read().splitlines()
            with open(os.path.join(run, "figures.txt"), encoding="utf-8") as f:
                figures = f.read().splitlines()
        straight = ("true {} cm along the start heading (path {} cm), heading strayed up to "
                    "0.0°; {} motor frames at full command")
        self.assertEqual(truth, [
            "move 1 straight: commanded 50 cm, " + straight.format("50.0", "50.0", "2 of 20"),
            "move 2 straight: commanded 0 cm, " + straight.format("0.0", "0.0", "0 of 0"),
            "move 3 straight: commanded 10 cm, " + straight.format("10.0", "10.0", "0 of 6"),
            "move 4 rotation: commanded 20.0° to the right, true 20.0°; 4 of 4 motor frames at "
            "full command",
            "WARNING: move 4: the wheels swung against each other at full command (4 frames at "
            "±127 in opposite directions)",
            "move 5 straight: commanded 100 cm, still running when the program ended, "
            + straight.format("20.0", "20.0", "0 of 14"),
            "squaring 1: program read 10 / 11 cm (square); true 31.2 / 32.4 cm to the surface, "
            "2.50° off square (turned left)",
            "fault wheel_blocked both injected at 2.50 s",
            "fault detection: no stop frame after it; the program said nothing",
        ])
        # The report's keys go to its own file; the simulator's summary is
        # left as it was.
        self.assertEqual(summary, ["x=1.00", "track=30"])
        self.assertEqual(figures, [
            "moves=5", "full_command_frames=6", "swings=1", "fault=wheel_blocked both",
            "fault_injected=2.5000", "fault_stop=none", "fault_detection=none", "fault_said=none",
        ])


if __name__ == "__main__":
    if len(sys.argv) > 1:
        REPORT = sys.argv.pop(1)
    unittest.main()
