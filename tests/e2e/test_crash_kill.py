"""The console watchdog killed (SIGKILL) at random moments while it backs up
plain, gzip and zip copies with 0 to 3 versions kept, restarted, and
checked after every kill:
- every file under a final backup name (a current copy or a version) holds,
  after decompression, a complete content its source once had;
- no current copy is missing where one existed before;
- every change not yet backed up is pending again or is backed up after the
  restart: from time to time, and at the end, the program is started and
  quit cleanly, which backs up what is pending, and then every source's
  latest content must be its current copy.

Sources are only ever replaced whole (written outside the watched trees
and renamed into place), so every content a copy can see is one the test
recorded. A few files are some MiB large, so that kills land inside copies.

Environment:
  DZ_CRASH_KILLS    kills to make (default 50)
  DZ_CRASH_SEED     the seed of the random choices (printed by every run)
  DZ_CRASH_SECONDS  no new kill begins after this many seconds (default
                    120, so that a slow build or a busy machine stays within
                    its time; 0 for none); at least MIN_KILLS are made
"""

import os
import random
import sys
import time
import unittest

import dzharness as h

KILLS = int(os.environ.get("DZ_CRASH_KILLS", "50"))
SECONDS = float(os.environ.get("DZ_CRASH_SECONDS", "120"))
MIN_KILLS = min(KILLS, 5)
# One clean start and quit every this many kills, besides the last one.
VERIFY_EVERY = 5

FILES = {  # relative name -> (smallest, largest) size in bytes
    "big.bin": (2 << 20, 6 << 20),
    "large.dat": (1 << 20, 3 << 20),
    "photo.jpg": (256 << 10, 1 << 20),
    "small.txt": (0, 4096),
    "notes": (1, 20_000),
    "sub/deep/leaf.txt": (100, 200_000),
}

NEW_FILE = (1 << 20, 6 << 20)


def say(text: str) -> None:
    sys.stderr.write(text + "\n")
    sys.stderr.flush()


class CrashKillTest(unittest.TestCase):
    def setUp(self):
        self.exe = h.required_env("DZ_EXE")
        self.box = h.Sandbox("dz-crash-")
        self.addCleanup(self.box.cleanup)
        self.seed = int(os.environ.get("DZ_CRASH_SEED") or random.SystemRandom().randrange(1 << 32))
        say(f"crash-kill seed {self.seed} (DZ_CRASH_SEED={self.seed} replays its choices)")
        self.rng = random.Random(self.seed)
        self.ledger = h.ContentLedger()
        self.had_current: set = set()
        self.verified: dict = {}  # files already found sound, by identity
        # Every compression, every number of versions.
        compress = [0, 1, 2, self.rng.randrange(3)]
        retain = [0, 1, 2, 3]
        self.rng.shuffle(compress)
        self.rng.shuffle(retain)
        self.entries = []
        self.names = {}  # source file -> its BackupNames
        self.relative = {}  # source file -> its name below the entry
        monitors = []
        for i, (c, r) in enumerate(zip(compress, retain)):
            source = self.box.path("src", f"e{i}")
            os.makedirs(source)
            task = h.Task(destination=self.box.dest, sources=[source], compress=c)
            task_file = self.box.path(f"e{i}.buj")
            h.write_task(task_file, task)
            monitors.append(h.Monitor(task_file, source, retain=r))
            self.entries.append((source, task, r))
            for relative in FILES:
                path = os.path.join(source, relative)
                self.names[path] = h.backup_names(task, path)
                self.relative[path] = relative
        self.first_files = sorted(self.names)
        say("entries: " + ", ".join(f"{['plain', 'gzip', 'zip'][c]} keeping {r}" for c, r in zip(compress, retain)))
        h.write_settings(self.box.settings, monitors, interval=3, write_log=True)
        self.backup_seconds = 0.5  # how long the copies of a backup take, the longest seen

    # -- the sources ----------------------------------------------------------

    def change(self, path: str) -> None:
        smallest, largest = FILES.get(self.relative[path], NEW_FILE)
        size = self.rng.randint(smallest, largest)
        # Half of the contents compress well, half not at all.
        data = self.rng.randbytes(size) if self.rng.random() < 0.5 else \
            (self.rng.randbytes(64) * (size // 64 + 1))[:size]
        staging = self.box.path("staging", os.urandom(6).hex())
        h.write_file(staging, data)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        os.replace(staging, path)
        self.ledger.record(path, data)

    def add_file(self) -> str:
        """A file the destination has never seen: its first copy has no
        earlier one to fall back on."""
        source, task, _ = self.rng.choice(self.entries)
        relative = f"new/{len(self.names)}" + self.rng.choice([".bin", ".jpg", ".txt", ""])
        path = os.path.join(source, relative)
        self.names[path] = h.backup_names(task, path)
        self.relative[path] = relative
        return path

    def change_some(self) -> int:
        paths = sorted(self.names)
        chosen = self.rng.sample(paths, self.rng.randint(1, len(paths) // 4))
        if self.rng.random() < 0.75:
            chosen.append(self.add_file())
        for path in chosen:
            self.change(path)
        return len(chosen)

    # -- the program ----------------------------------------------------------

    def start(self) -> h.Watchdog:
        w = h.Watchdog(self.exe, self.box.settings, self.box.home)
        self.addCleanup(w.close)
        w.start()
        w.wait_for_status(lambda es: len(es) == len(self.entries) and all(s.state != "not watched" for s in es),
                          "every entry watched")
        return w

    def check(self, after: str) -> list:
        problems = h.check_backup_tree(self.box.dest, self.names, self.ledger, self.had_current, self.verified)
        self.assertEqual(problems, [], f"after {after} (seed {self.seed})")
        current = {s for s, n in self.names.items() if os.path.isfile(n.current)}
        self.had_current |= current
        return [p for p in h.files_below(self.box.dest) if h.is_temporary(p)]

    def kill_during_backup(self, number: int) -> tuple:
        """One start, changes, a backup and a kill at a random moment of it.
        Whether the kill left a copy half made, and whether that was the
        first copy of a file."""
        w = self.start()
        changed = self.change_some()
        before = set(p for p in h.files_below(self.box.dest) if h.is_temporary(p))
        start = w.mark()
        began = time.monotonic()
        w.send("b")
        how = self.rng.random()
        if how < 0.4:
            # Any moment of the copies.
            # (A short backup may be over before a status answer shows it.)
            w.wait_for_status(lambda es: any("backup" in s.state for s in es) or
                              len(h.file_reports(w.lines, start)) >= changed, "the backup running")
            running = time.monotonic()
            time.sleep(self.rng.uniform(0, self.backup_seconds))
        elif how < 0.8:
            # Just after a file was reported: the next copy begins, or the
            # versions of the last one are being moved.
            n = self.rng.randint(1, changed)
            w.wait_for(lambda: len(h.file_reports(w.lines, start)) >= n, f"report {n} of the backup")
            time.sleep(self.rng.uniform(0, 0.02))
        else:
            # Any moment after the request, also before the backup began
            # (the settings are saved as it begins).
            time.sleep(self.rng.uniform(0, 1.5))
        w.kill()
        reports = h.file_reports(w.lines, start)
        for r in reports:
            self.assertIsNone(r.error, f"{r.source}: {r.error} (seed {self.seed})\n{w.output()}")
        if how < 0.4 and len(reports) >= changed:
            # The backup ended before the kill: the next ones may take longer.
            self.backup_seconds = max(self.backup_seconds, time.monotonic() - running)
        had_current = set(self.had_current)
        temporary = set(self.check(f"kill {number} at {time.monotonic() - began:.3f} s")) - before
        source_of = {n.current: s for s, n in self.names.items()}
        first = any(source_of.get(h.TEMPORARY_NAME.sub("", p)) not in had_current | {None} for p in temporary)
        return bool(temporary), first

    def quit_cleanly(self, after: str, w: h.Watchdog = None) -> None:
        """A start and a quit: everything pending must be backed up then."""
        w = w or self.start()
        self.assertEqual(w.quit(), 0, w.output())
        for r in h.file_reports(w.lines):
            self.assertIsNone(r.error, f"{r.source}: {r.error} (seed {self.seed})")
        self.check(after)
        stale = [s for s, n in self.names.items()
                 if not os.path.isfile(n.current) or h.digest(h.backup_content(n.current)) != self.ledger.latest[s]]
        self.assertEqual(stale, [], f"changes lost {after} (seed {self.seed})\n{w.output()}")
        self.assertEqual(h.pending_in_settings(self.box.settings), {s: [] for s, _, _ in self.entries})

    def test_killed_backups_lose_nothing(self):
        w = self.start()
        for path in self.first_files:
            self.change(path)
        w.wait_for_status(lambda es: all(s.count == len(FILES) for s in es), "every file pending")
        self.quit_cleanly("the first backup", w)
        began = time.monotonic()
        kills = half_made = first_copies = 0
        while kills < KILLS and (kills < MIN_KILLS or not SECONDS or time.monotonic() - began < SECONDS):
            kills += 1
            half, first = self.kill_during_backup(kills)
            half_made += half
            first_copies += first
            if kills % VERIFY_EVERY == 0:
                self.quit_cleanly(f"kill {kills}")
        self.quit_cleanly("the last kill")
        leftovers = [n for n in os.listdir(self.box.settings) if n != h.SETTINGS_NAME and not n.endswith(".log")]
        say(f"{kills} kills in {time.monotonic() - began:.0f} s, {half_made} of them with a copy half made "
            f"({first_copies} a file's first copy); files left in the settings folder: {leftovers}")


if __name__ == "__main__":
    unittest.main()
