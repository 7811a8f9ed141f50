#!/usr/bin/env python3
"""Runs a command on a pseudo-terminal of its own, as a person at a terminal
would: when what it printed holds TEXT, sends KEYS (Ctrl+C is \\x03).

    pty_run.py OUTPUT [--when TEXT --send KEYS]... -- COMMAND...

Everything the command printed on the terminal goes to OUTPUT; the exit
status is the command's (128 + N when a signal N ended it).
"""
import os
import pty
import select
import sys
import time

args = sys.argv[1:]
output_path = args.pop(0)
steps = []
while args and args[0] != "--":
    flag, value = args.pop(0), args.pop(0)
    if flag == "--when":
        steps.append([value.encode(), None])
    elif flag == "--send":
        steps[-1][1] = value.encode().decode("unicode_escape").encode()
args.pop(0)

pid, fd = pty.fork()
if pid == 0:
    os.execvp(args[0], args)

seen = b""
deadline = time.monotonic() + 60
while time.monotonic() < deadline:
    ready, _, _ = select.select([fd], [], [], 0.1)
    if ready:
        try:
            chunk = os.read(fd, 4096)
        except OSError:
            break
        if not chunk:
            break
        seen += chunk
    while steps and steps[0][0] in seen:
        time.sleep(0.2)
        os.write(fd, steps.pop(0)[1])
with open(output_path, "wb") as out:
    out.write(seen)
_, status = os.waitpid(pid, 0)
sys.exit(os.WEXITSTATUS(status) if os.WIFEXITED(status) else 128 + os.WTERMSIG(status))
