#!/usr/bin/env python3
"""Runs a program on a pseudo-terminal whose output the operator holds with Ctrl-S.

Usage: held_terminal.py HOLD_AFTER HOLD_SECONDS ANSWERS PROGRAM [ARGS...]

Types ANSWERS (with "\\n" for Enter) at the program's first prompt, sends XOFF
once HOLD_AFTER has appeared, keeps the output held for HOLD_SECONDS, sends XON,
and at the next "run mode" prompt ends the input with Ctrl-D. Prints what the
terminal showed and exits with the program's status (128 + signal if killed).
"""
import os
import pty
import select
import sys
import termios
import time

PROMPT = b"run mode (s or r) = "


def main():
    hold_after = sys.argv[1].encode()
    hold_seconds = float(sys.argv[2])
    answers = sys.argv[3].encode().decode("unicode_escape").encode()
    pid, master = pty.fork()
    if pid == 0:
        attrs = termios.tcgetattr(0)
        attrs[0] |= termios.IXON  # Ctrl-S and Ctrl-Q hold and release the output
        attrs[3] &= ~termios.ECHO  # the transcript shows output only
        termios.tcsetattr(0, termios.TCSANOW, attrs)
        os.execvp(sys.argv[4], sys.argv[4:])

    shown = b""
    stage = "prompt"  # prompt -> hold -> release -> end
    while True:
        ready, _, _ = select.select([master], [], [], 0.05)
        if ready:
            try:
                chunk = os.read(master, 4096)
            except OSError:  # the slave side closed: the program ended
                break
            if not chunk:
                break
            shown += chunk
        if stage == "prompt" and PROMPT in shown:
            os.write(master, answers)
            stage = "hold"
        elif stage == "hold" and hold_after in shown:
            os.write(master, b"\x13")
            time.sleep(hold_seconds)
            os.write(master, b"\x11")
            held_at = len(shown)
            stage = "release"
        elif stage == "release" and PROMPT in shown[held_at:]:
            os.write(master, b"\x04")
            stage = "end"
    _, status = os.waitpid(pid, 0)
    sys.stdout.buffer.write(shown.replace(b"\r\n", b"\n"))
    sys.stdout.flush()
    sys.exit(os.waitstatus_to_exitcode(status) if os.WIFEXITED(status) else 128 + os.WTERMSIG(status))


main()
