"""Runs a test program on a private X server: Xvfb, with --tray also trayer
as the notification-area host, both ended whatever happens.

  run_x11.py [--tray] [--timeout SECONDS] -- PROGRAM [ARGS...]

The program gets DISPLAY and QT_QPA_PLATFORM=xcb; its exit code is this
script's. Exit code 77 (a skip for ctest) only when Xvfb, trayer or xdotool
is not installed; CI installs them (tools/install-deps.sh)."""

import argparse
import os
import signal
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import xsession  # noqa: E402


def main() -> int:
    parser = argparse.ArgumentParser()
    parser.add_argument("--tray", action="store_true", help="start trayer as the notification-area host")
    parser.add_argument("--timeout", type=float, default=280, help="seconds before the program is killed")
    parser.add_argument("command", nargs=argparse.REMAINDER)
    args = parser.parse_args()
    command = args.command[1:] if args.command[:1] == ["--"] else args.command
    if not command:
        parser.error("no program given")

    needed = ["Xvfb", "xdotool"] + (["trayer"] if args.tray else [])
    missing = xsession.missing_programs(needed)
    if missing:
        print(f"SKIP: not installed: {', '.join(missing)} (tools/install-deps.sh installs them)")
        return xsession.SKIP

    # ctest ends an overrunning test with a signal: the servers go with it.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(128 + signal.SIGTERM))
    with xsession.XServer(tray=args.tray) as server:
        print(f"X server {server.display}" + (" with trayer" if args.tray else ""), flush=True)
        proc = subprocess.Popen(command, env=server.env())
        try:
            return proc.wait(args.timeout)
        except subprocess.TimeoutExpired:
            print(f"FAIL: {command[0]} did not end within {args.timeout:.0f} s", flush=True)
            return 124
        finally:
            if proc.poll() is None:
                proc.kill()
                proc.wait()


if __name__ == "__main__":
    sys.exit(main())
