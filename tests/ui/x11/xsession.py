"""A private X server for tests: Xvfb on a free display, optionally with
trayer as the notification-area host, torn down on every path.

Xvfb chooses its display itself (-displayfd), so tests running side by side
never race for a number. Both programs stay in the caller's process group:
when ctest kills a test that overran, it takes them along."""

import os
import shutil
import subprocess
import time
from typing import Optional

# How long the server and the tray host get to come up; a guard against a
# hang, not a measure of speed.
START_GUARD = float(os.environ.get("DZ_X11_GUARD", "60"))

# The exit code ctest takes for a skip (SKIP_RETURN_CODE of the tests).
SKIP = 77


def missing_programs(names) -> list:
    return [n for n in names if shutil.which(n) is None]


def clean_environment(display: Optional[str]) -> dict:
    """The environment of a program on display (None: no display at all).
    Without a session bus Qt's tray icon uses the XEmbed tray of the X
    server, the one trayer hosts; no Wayland socket may be found."""
    env = dict(os.environ)
    for name in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "QT_QPA_PLATFORMTHEME",
                 "DBUS_SESSION_BUS_ADDRESS", "XAUTHORITY", "XDG_SESSION_TYPE"):
        env.pop(name, None)
    if display is not None:
        env["DISPLAY"] = display
        env["QT_QPA_PLATFORM"] = "xcb"
        # Under AddressSanitizer: the D-Bus library's memory, which the xcb
        # platform leaves to the end of the process, is not ours to report.
        suppressions = os.path.join(os.path.dirname(os.path.abspath(__file__)), "lsan-x11.supp")
        env["LSAN_OPTIONS"] = ":".join(filter(None, [env.get("LSAN_OPTIONS"), f"suppressions={suppressions}"]))
    return env


class XServer:
    """Xvfb (and trayer when tray is true), as a context manager."""

    def __init__(self, tray: bool = False, size: str = "1024x768x24"):
        self.tray = tray
        self.size = size
        self.display: Optional[str] = None
        self._xvfb: Optional[subprocess.Popen] = None
        self._trayer: Optional[subprocess.Popen] = None

    def __enter__(self) -> "XServer":
        try:
            self._start()
        except BaseException:
            self.stop()
            raise
        return self

    def __exit__(self, *exc) -> None:
        self.stop()

    def env(self) -> dict:
        return clean_environment(self.display)

    def _start(self) -> None:
        read_end, write_end = os.pipe()
        try:
            self._xvfb = subprocess.Popen(
                ["Xvfb", "-displayfd", str(write_end), "-screen", "0", self.size, "-nolisten", "tcp", "-noreset"],
                pass_fds=(write_end,), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                stderr=subprocess.PIPE)
        finally:
            os.close(write_end)
        # Xvfb writes the display number once it accepts connections; the
        # pipe closes without one when it fails.
        number = b""
        with os.fdopen(read_end, "rb") as pipe:
            while not number.endswith(b"\n"):
                chunk = pipe.read(1)
                if not chunk:
                    break
                number += chunk
        if not number.strip().isdigit():
            err = self._xvfb.stderr.read().decode(errors="replace") if self._xvfb.poll() is not None else ""
            raise RuntimeError(f"Xvfb did not start: {err.strip()}")
        self.display = ":" + number.strip().decode()
        if self.tray:
            self._start_trayer()

    def _start_trayer(self) -> None:
        self._trayer = subprocess.Popen(
            ["trayer", "--edge", "bottom", "--align", "right", "--widthtype", "pixel", "--width", "120",
             "--heighttype", "pixel", "--height", "32", "--SetDockType", "true", "--SetPartialStrut", "true"],
            env=self.env(), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        # The tray is there once a window owns the display's tray selection;
        # xdotool sees trayer's panel window by its class.
        deadline = time.monotonic() + START_GUARD
        while time.monotonic() < deadline:
            if self._trayer.poll() is not None:
                raise RuntimeError("trayer ended: " + self._trayer.stderr.read().decode(errors="replace").strip())
            found = subprocess.run(["xdotool", "search", "--classname", "trayer"], env=self.env(),
                                   capture_output=True, text=True)
            if found.returncode == 0 and found.stdout.strip():
                return
            time.sleep(0.05)  # between two looks, not a wait for the result
        raise RuntimeError(f"trayer showed no window within {START_GUARD:.0f} s")

    def stop(self) -> None:
        for proc in (self._trayer, self._xvfb):
            if proc is None:
                continue
            if proc.poll() is None:
                proc.terminate()
                try:
                    proc.wait(10)
                except subprocess.TimeoutExpired:
                    proc.kill()
                    proc.wait()
            if proc.stderr is not None:
                proc.stderr.close()
        self._trayer = self._xvfb = None
