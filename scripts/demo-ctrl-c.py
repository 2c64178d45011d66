#!/usr/bin/env python3
"""Types Ctrl-C into a demo as a user's terminal does, at chosen moments.

Runs scripts/demo.sh (--windows with --windows) in a pseudo-terminal whose
foreground process group is the demo's, as an interactive shell leaves it,
writes a Ctrl-C byte when a moment comes and checks that the demo then ends
within --limit seconds, its player having stopped its streams cleanly
where they ran, leaving no process behind (everything it started
carries a mark in its environment: Xvfb, icecast2, the player, Wine's
programs and its server, the progress loop). Runs each moment --runs times;
prints one line a run and ends with "N passed, N failed".

  python3 scripts/demo-ctrl-c.py [--windows] [--runs N] [--moments a,b]
      [--limit S] [--logs DIR]

Moments (a line the demo prints, then a delay):
  start       its first line (the package check runs)
  build       "demo: building ..."
  player      the line that says the player starts
  listen      4 s after "demo: listen to ..."
  screenshot  the screenshot line (--windows)
  late        8 s after the screenshot line (--windows)

Slow (a demo run a try); not part of scripts/test.sh.
"""
import argparse
import os
import pty
import re
import select
import signal
import sys
import time
import uuid

HERE = os.path.dirname(os.path.abspath(__file__))
MARK = "VELMORA_CTRL_C_TRIAL"

# name: (pattern, delay, whether a stream runs then: it must stop cleanly)
MOMENTS = {
    "start": (r"demo: checking", 0.0, False),
    "build": (r"demo: building", 0.0, False),
    "player": (r"demo: icecast2 on 127\.0\.0\.1:\d+; ", 0.0, False),
    "listen": (r"demo: listen to ", 4.0, True),
    "screenshot": (r"demo: screenshot of the streaming window", 0.0, True),
    "late": (r"demo: screenshot of the streaming window", 8.0, True),
}
LINUX_MOMENTS = ["start", "build", "player", "listen"]
WINDOWS_MOMENTS = LINUX_MOMENTS + ["screenshot", "late"]


def marked(tag):
    """PIDs of the processes whose environment carries the mark TAG."""
    needle = f"{MARK}={tag}".encode()
    found = []
    for name in os.listdir("/proc"):
        if not name.isdigit():
            continue
        try:
            with open(f"/proc/{name}/environ", "rb") as f:
                if needle in f.read().split(b"\0"):
                    found.append(int(name))
        except OSError:
            pass
    return found


def describe(pid):
    try:
        with open(f"/proc/{pid}/cmdline", "rb") as f:
            return f"{pid} " + f.read().replace(b"\0", b" ").decode(errors="replace").strip()
    except OSError:
        return str(pid)


def spawn(argv, env):
    """Starts ARGV in a new pseudo-terminal: a session leader stands for the
    user's shell and puts ARGV into a foreground process group of its own.
    Returns (leader pid, master fd)."""
    pid, fd = pty.fork()
    if pid == 0:
        try:
            child = os.fork()
            if child == 0:
                os.setpgid(0, 0)
                signal.signal(signal.SIGTTOU, signal.SIG_IGN)
                os.tcsetpgrp(0, os.getpgrp())
                signal.signal(signal.SIGTTOU, signal.SIG_DFL)
                os.execvpe(argv[0], argv, env)
            try:
                os.setpgid(child, child)
            except OSError:
                pass
            _, status = os.waitpid(child, 0)
            code = os.waitstatus_to_exitcode(status)
            os._exit(128 - code if code < 0 else code)
        except BaseException:
            os._exit(127)
    return pid, fd


def one_run(args, moment, number):
    pattern, delay, streaming = MOMENTS[moment]
    tag = uuid.uuid4().hex
    env = dict(os.environ, **{MARK: tag})
    argv = ["bash", os.path.join(HERE, "demo.sh"), "--seconds", str(args.seconds)]
    if args.windows:
        argv.append("--windows")
    log_path = os.path.join(args.logs, f"{'windows' if args.windows else 'linux'}-{moment}-{number}.log")
    log = open(log_path, "wb")
    leader, fd = spawn(argv, env)
    text = b""
    due = None          # when to type Ctrl-C
    typed = None        # when it was typed
    status = None
    started = time.monotonic()
    deadline = started + args.seconds + 600  # the first build may run long
    while status is None:
        now = time.monotonic()
        if typed is None and due is not None and now >= due:
            os.write(fd, b"\x03")
            typed = now
            log.write(b"<<trial: Ctrl-C typed here>>")
        if typed is not None and now > typed + args.limit:
            break
        if now > deadline:
            break
        wait = 0.05 if due is None or typed is not None else max(0.0, min(0.05, due - now))
        ready, _, _ = select.select([fd], [], [], wait)
        if ready:
            try:
                chunk = os.read(fd, 65536)
            except OSError:
                chunk = b""
            if chunk:
                log.write(chunk)
                log.flush()
                text += chunk
                if due is None:
                    # (The progress line is rewritten in place: \r, then "erase line".)
                    plain = re.sub(r"\x1b\[[0-9;]*[A-Za-z]", "", text.decode(errors="replace"))
                    lines = plain.replace("\r", "\n").split("\n")
                    if any(re.search(pattern, line) for line in lines):
                        due = time.monotonic() + delay
        done, raw = os.waitpid(leader, os.WNOHANG)
        if done:
            status = os.waitstatus_to_exitcode(raw)
    took = None if typed is None else time.monotonic() - typed
    # The demo's last words.
    while status is not None and select.select([fd], [], [], 0.2)[0]:
        try:
            chunk = os.read(fd, 65536)
        except OSError:
            break
        if not chunk:
            break
        log.write(chunk)
        text += chunk
    problems = []
    if typed is None:
        problems.append("the moment did not come" if status is not None else "the moment did not come in time")
    elif status is None:
        problems.append(f"still running {args.limit:g} s after Ctrl-C")
    elif status != 130:
        problems.append(f"ended with status {status}, not 130 as after a Ctrl-C")
    # What ends as the demo ends may take a moment to go.
    left = marked(tag)
    give_up = time.monotonic() + 2
    while left and time.monotonic() < give_up:
        time.sleep(0.1)
        left = marked(tag)
    if typed is not None and streaming and b"console: velmora: Streaming finish" not in text:
        problems.append("the player did not stop its stream cleanly")
    if left:
        problems.append("left running: " + "; ".join(describe(p) for p in left))
    # Clean up after a failed run, by PID, so the next run starts clear.
    if status is None:
        os.kill(leader, signal.SIGKILL)
        os.waitpid(leader, 0)
    for pid in marked(tag):
        try:
            os.kill(pid, signal.SIGKILL)
        except OSError:
            pass
    os.close(fd)
    log.close()
    line = f"{moment} #{number}: "
    line += "Ctrl-C not typed" if took is None else f"ended {took:.1f} s after Ctrl-C (status {status})"
    if problems:
        line += "; FAILED: " + "; ".join(problems) + f" (output: {log_path})"
    print(line, flush=True)
    return not problems


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--windows", action="store_true")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--moments")
    parser.add_argument("--limit", type=float, default=8.0, help="seconds the demo may take to end")
    parser.add_argument("--seconds", type=int, default=30, help="the demo's own length")
    parser.add_argument("--logs", default=None)
    args = parser.parse_args()
    moments = args.moments.split(",") if args.moments else (WINDOWS_MOMENTS if args.windows else LINUX_MOMENTS)
    for m in moments:
        if m not in MOMENTS or (not args.windows and m not in LINUX_MOMENTS):
            parser.error(f"unknown moment {m}")
    if args.logs is None:
        args.logs = os.path.join(os.path.dirname(HERE), "build", "demo-ctrl-c")
    os.makedirs(args.logs, exist_ok=True)
    passed = failed = 0
    for m in moments:
        for n in range(1, args.runs + 1):
            if one_run(args, m, n):
                passed += 1
            else:
                failed += 1
    print(f"{passed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
