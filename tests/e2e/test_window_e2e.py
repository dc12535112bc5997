"""The watchdog with its window, end to end: the real executable on a private
X server (Xvfb), started with "/force" on a settings file of one monitored
directory, files written into the source, their copies looked for in the
destination, the end by SIGTERM. And the fallback to the console where no
display can be opened.

The window prints nothing, so what the program knows is read from the
settings file, which SIGHUP makes it save: the pending files it lists are
the ones the watcher has reported."""

import os
import signal
import subprocess
import sys
import time
import unittest

import dzharness as h

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "ui", "x11"))
import xsession  # noqa: E402

# Between two looks at the destination or the saved settings; each wait as a
# whole is bounded by the harness's guard of minutes.
POLL = 0.2


class WindowTestCase(unittest.TestCase):
    def setUp(self):
        self.exe = h.required_env("DZ_EXE")
        self.box = h.Sandbox(prefix="dz-e2e-window-")
        self.addCleanup(self.box.cleanup)
        self.source = self.box.path("src", "Letters")
        os.makedirs(self.source)
        self.task = h.Task(destination=self.box.dest, sources=[self.source])
        self.task_file = self.box.path("letters.buj")
        h.write_task(self.task_file, self.task)

    def write_settings(self, interval: int) -> None:
        h.write_settings(self.box.settings, [h.Monitor(self.task_file, self.source)], interval)

    def copy_of(self, relative: str) -> str:
        return h.backup_names(self.task, os.path.join(self.source, relative)).current

    def put(self, relative: str, data: bytes) -> None:
        """New content, written beside the tree and renamed into place, so a
        copy never sees half of it."""
        staging = self.box.path("staging", relative.replace("/", "_"))
        h.write_file(staging, data)
        os.makedirs(os.path.dirname(os.path.join(self.source, relative)), exist_ok=True)
        os.replace(staging, os.path.join(self.source, relative))

    def poll(self, w: h.Watchdog, condition, what: str, step=None):
        """Waits until condition() holds, calling step() before each look;
        fails when the program ends first or the guard time runs out."""
        deadline = time.monotonic() + h.GUARD
        while True:
            if step is not None:
                step()
            if condition():
                return
            if not w.running():
                self.fail(f"the program ended (code {w.proc.returncode}) while waiting for {what}\n{w.output()}")
            if time.monotonic() > deadline:
                self.fail(f"no {what} within {h.GUARD:.0f} s\n{w.output()}")
            time.sleep(POLL)

    def has_copy(self, relative: str, data: bytes) -> bool:
        path = self.copy_of(relative)
        try:
            return h.backup_content(path) == data
        except OSError:
            return False

    def pending(self) -> list:
        try:
            return h.pending_in_settings(self.box.settings).get(self.source, [])
        except OSError:
            return []


class WindowTest(WindowTestCase):
    @classmethod
    def setUpClass(cls):
        missing = xsession.missing_programs(["Xvfb"])
        if missing:
            raise unittest.SkipTest("Xvfb is not installed (tools/install-deps.sh installs it)")
        cls.server = xsession.XServer().__enter__()
        cls.addClassCleanup(cls.server.stop)

    def start_window(self, interval: int) -> h.Watchdog:
        self.write_settings(interval)
        w = h.Watchdog(self.exe, self.box.settings, self.box.home, console=False, base_env=self.server.env())
        self.addCleanup(w.close)
        w.start(["/force"])
        return w

    def until_watched(self, w: h.Watchdog) -> None:
        """Rewrites a marker until the saved settings list it as pending:
        from then on the watcher reports what happens in the tree."""
        self.poll(w, lambda: w.catches(signal.SIGHUP), "the program's signal handler")
        counter = iter(range(1 << 30))
        self.poll(w, lambda: "marker.txt" in self.pending(), "report of the marker in the saved settings",
                  step=lambda: (self.put("marker.txt", b"marker %d" % next(counter)), w.signal(signal.SIGHUP)))

    def assert_window_shown(self, w: h.Watchdog) -> None:
        """The program took the window's way: its main window is on the X
        server and nothing went to the console."""
        if xsession.missing_programs(["xwininfo"]):
            self.skipTest("xwininfo is not installed (tools/install-deps.sh installs x11-utils)")
        tree = subprocess.run(["xwininfo", "-root", "-tree"], env=self.server.env(), capture_output=True,
                              text=True, check=True).stdout
        self.assertIn('"File change monitoring with direct backup', tree)
        self.assertEqual(w.lines, [], "console output from the window's way")

    def end_by_sigterm(self, w: h.Watchdog) -> None:
        settings = os.path.join(self.box.settings, h.SETTINGS_NAME)
        before = os.stat(settings).st_mtime_ns
        w.signal(signal.SIGTERM)
        self.assertEqual(w.wait_exit(), 0, w.output())
        self.assertGreater(os.stat(settings).st_mtime_ns, before, "the settings file was not saved at the end")
        self.assertEqual(self.pending(), [], "files left pending after the last backup")
        ini = h.read_ini(settings)
        self.assertEqual(ini["monitor00"]["directory"], self.source)
        self.assertEqual(ini["monitor00"]["backuptask"], self.task_file)

    def test_periodic_backups_then_sigterm(self):
        w = self.start_window(interval=5)
        self.until_watched(w)
        self.assert_window_shown(w)
        files = {"offer.txt": os.urandom(5000), "2024/invoice-17.txt": b"total 12.50\n", "empty.txt": b""}
        for name, data in files.items():
            self.put(name, data)
        self.poll(w, lambda: all(self.has_copy(n, d) for n, d in files.items()), "copy of every file")
        self.end_by_sigterm(w)
        for name, data in files.items():
            self.assertTrue(self.has_copy(name, data), name)

    def test_sigterm_runs_the_last_backup(self):
        # No periodic backups: only the end copies what is pending.
        w = self.start_window(interval=-1)
        self.until_watched(w)
        self.put("draft.txt", b"the latest words")
        self.poll(w, lambda: "draft.txt" in self.pending(), "draft.txt pending in the saved settings",
                  step=lambda: w.signal(signal.SIGHUP))
        self.assertFalse(os.path.exists(self.copy_of("draft.txt")), "copied before the end")
        self.end_by_sigterm(w)
        self.assertTrue(self.has_copy("draft.txt", b"the latest words"))
        self.assertTrue(self.has_copy("marker.txt", h.backup_content(os.path.join(self.source, "marker.txt"))))


class ConsoleFallbackTest(WindowTestCase):
    def test_no_display_runs_on_the_console_with_one_note(self):
        self.write_settings(interval=-1)
        env = xsession.clean_environment(None)
        # A Wayland socket is looked for below the runtime folder.
        env["XDG_RUNTIME_DIR"] = self.box.path("runtime")
        os.makedirs(env["XDG_RUNTIME_DIR"], mode=0o700)
        w = h.Watchdog(self.exe, self.box.settings, self.box.home, console=False, base_env=env)
        self.addCleanup(w.close)
        w.start()
        w.wait_for_line(lambda l: l.startswith("Monitoring started."), what="the console's start line")
        self.assertEqual(w.quit(), 0, w.output())
        self.assertEqual(w.errors, ["No display can be opened; the watchdog runs on the console."], w.output())


if __name__ == "__main__":
    unittest.main()
