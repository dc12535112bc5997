"""The harness's own pieces, checked before they are trusted with the real
program: its task and settings files as the program's readers see them
(through dz-e2e-probe), its destination names against the program's path
helpers, its reading of backup copies and the crash invariants on trees
made by hand, and its process driver on a stand-in program."""

import gzip
import io
import os
import stat
import subprocess
import sys
import textwrap
import unittest
import zipfile

import dzharness as h


def probe(*args: str) -> dict:
    """Runs dz-e2e-probe; its "name=value" lines as a dict (repeated names
    collect into lists under "name[]")."""
    out = subprocess.run([h.required_env("DZ_E2E_PROBE"), *args], check=True, capture_output=True).stdout
    result: dict = {}
    for line in out.decode("utf-8").splitlines():
        key, _, value = line.partition("=")
        result.setdefault(key + "[]", []).append(value)
        result.setdefault(key, value)
    return result


def probe_ini(path: str) -> list:
    """[(section, [(key, value)])] as the program's INI layer reads path."""
    out = subprocess.run([h.required_env("DZ_E2E_PROBE"), "ini", path], check=True, capture_output=True).stdout
    sections = []
    for line in out.decode("utf-8").splitlines():
        if line.startswith("["):
            sections.append((line[1:-1], []))
        else:
            key, _, value = line.partition("=")
            sections[-1][1].append((key, value))
    return sections


class SandboxTest(unittest.TestCase):
    def setUp(self):
        self.box = h.Sandbox()
        self.addCleanup(self.box.cleanup)


class TaskFileTest(SandboxTest):
    def test_the_task_reader_takes_over_what_the_writer_wrote(self):
        names = ["a.txt", "b.TMP", "c.bak", "noext", "cache/x.txt", "cachet/y.txt", "build/out/z.txt",
                 "build/keep.txt", "Grüße.txt"]
        cases = [
            ("plain, no filters", dict(compress=0), 0),
            ("gzip, excluded extensions", dict(compress=1, exclude=("tmp", "bak")), 1),
            ("zip, excluded folders", dict(compress=2, excluded_dirs=("cache", "build/out")), 2),
            ("gzip, both, own never-compressed types", dict(compress=1, exclude=("txt",), excluded_dirs=("cache",),
                                                            no_comp_types=("jpg", "mp3")), 1),
        ]
        for title, kwargs, compress in cases:
            with self.subTest(title):
                other = self.box.path("Quelle Ü", "other")
                source = self.box.path("Quelle Ü", "src")
                os.makedirs(other, exist_ok=True)
                os.makedirs(source, exist_ok=True)
                task = h.Task(destination=self.box.dest.rstrip("/"), sources=[other, source], **kwargs)
                path = self.box.path("task.buj")
                h.write_task(path, task)

                got = probe("task", path, source, *names)
                self.assertEqual(got["check"], "0")
                self.assertEqual(got["source[]"], [f"0:{other}", f"1:{source}"])
                self.assertEqual(got["read"], "0", got.get("log[]"))
                self.assertEqual(got["DestDir"], self.box.dest)
                self.assertEqual(got["DestMode"], "1")
                self.assertEqual(got["DrvId"], "")
                self.assertEqual(got["Compress"], str(compress))
                self.assertEqual(got["NoComp"], ",".join(task.no_comp_types))
                self.assertEqual(got["IncludeExts"], "0")
                self.assertEqual(got["Exts"], ",".join(sorted(task.exclude)))
                self.assertEqual(got["IncludeSubDirs"], "0")
                self.assertEqual(sorted(got["SubDirs"].split(",")) if got["SubDirs"] else [],
                                 sorted(task.excluded_dirs))
                for name in names:
                    self.assertEqual(got[f"passes:{name}"], "1" if task.passes(name) else "0", name)

    def test_the_settings_file_reads_back_key_for_key(self):
        monitors = [h.Monitor(self.box.path("t1.buj"), self.box.path("Ordner ä"), retain=3,
                              files=["a.txt", "sub/Grüße.txt"]),
                    h.Monitor(self.box.path("t2.buj"), self.box.path("two"), retain=0, enabled=False)]
        for task in ("t1.buj", "t2.buj"):
            h.write_file(self.box.path(task), b"")
        path = h.write_settings(self.box.settings, monitors, interval=5, write_log=True, last_save=1765000000)
        expected = [(name, [(k, str(v)) for k, v in keys])
                    for name, keys in h.settings_sections(monitors, 5, True, 1765000000)]
        self.assertEqual(probe_ini(path), expected)
        loaded = probe("settings", path)
        self.assertEqual((loaded["Interval"], loaded["WriteLog"], loaded["LastSave"]), ("5", "1", "1765000000"))
        self.assertEqual(loaded["monitor[]"], [f"{m.task}|{m.directory}|{m.retain}|{int(m.enabled)}" for m in monitors])
        self.assertEqual(loaded["file[]"], monitors[0].files)
        self.assertEqual(h.pending_in_settings(self.box.settings),
                         {self.box.path("Ordner ä"): ["a.txt", "sub/Grüße.txt"], self.box.path("two"): []})

        # One key changed between two runs; the rest stays as it was.
        h.set_setting(self.box.settings, "config", "Interval", -1)
        h.set_setting(self.box.settings, "Config", "SysTray", 1)
        h.set_setting(self.box.settings, "Extra", "Key", "v")
        config = dict(expected[0][1], Interval="-1", SysTray="1")
        changed = probe_ini(path)
        self.assertEqual(dict(changed[0][1]), config)
        self.assertEqual(changed[1:3], expected[1:3])
        self.assertEqual(changed[3], ("Extra", [("Key", "v")]))

    def test_read_ini_reads_as_the_program_does(self):
        text = ("junk before\r\n[Config]\r\n  Interval = 7 \r\n;comment=1\r\ninterval=8\r\n\r\n"
                "[Monitor00]\nDirectory=/x=y\rCount=1\r\nFile000=a b.txt\r\n")
        for encoding, bom in (("utf-16-le", b"\xff\xfe"), ("utf-8", b"\xef\xbb\xbf"), ("utf-8", b"")):
            with self.subTest(encoding=encoding, bom=bom):
                path = self.box.path("s.ini")
                with open(path, "wb") as f:
                    f.write(bom + text.encode(encoding))
                ini = h.read_ini(path)
                self.assertEqual(ini, {"config": {"interval": "7"},
                                       "monitor00": {"directory": "/x=y", "count": "1", "file000": "a b.txt"}})
                self.assertEqual(probe_ini(path)[0], ("Config", [("Interval", "7"), ("interval", "8")]))


class NamesTest(unittest.TestCase):
    def test_destination_names_are_those_of_the_backup_worker(self):
        dest = "/d/"
        sources = ["/s/a/b.txt", "/s/notes", "/s/dir.d/file", "/s/photo.JPG", "/s/arch.tar.gz", "/s/.hidden",
                   "/s/x.y.z", "/s/Ä ö.txt"]
        for compress in (0, 1, 2):
            task = h.Task(destination=dest, sources=["/s"], compress=compress)
            for source in sources:
                with self.subTest(compress=compress, source=source):
                    got = probe("names", dest, source, str(compress), ",".join(task.no_comp_types))
                    names = h.backup_names(task, source)
                    self.assertEqual(names.current, got["current"])
                    self.assertEqual(names.versions, [got[f"version{n}"] for n in (1, 2, 3)])

    def test_examples(self):
        task = h.Task(destination="/d/", sources=["/s"], compress=1)
        self.assertEqual(h.backup_names(task, "/s/a/b.txt").all(),
                         ["/d/s/a/b.txt.gz", "/d/s/a/b.bak-1.txt.gz", "/d/s/a/b.bak-2.txt.gz", "/d/s/a/b.bak-3.txt.gz"])
        self.assertEqual(h.backup_names(task, "/s/p.jpg").versions[0], "/d/s/p.bak-1.jpg")
        for name, temporary in (("a.txt.tmp", True), ("a.txt.gz.tmp12", True), ("a.tmp.txt", False),
                                ("a.txt.tmpx", False)):
            self.assertEqual(h.is_temporary(name), temporary, name)


def gzip_bytes(data: bytes) -> bytes:
    return gzip.compress(data)


def zip_bytes(*entries: tuple) -> bytes:
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w", zipfile.ZIP_DEFLATED) as z:
        for name, data in entries:
            z.writestr(name, data)
    return buf.getvalue()


DATA = bytes(range(256)) * 64


class BackupContentTest(SandboxTest):
    def write(self, name: str, data: bytes) -> str:
        path = self.box.path(name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def test_good_copies_give_the_source_bytes(self):
        for name, data in (("a.txt", DATA), ("a.txt.gz", gzip_bytes(DATA)), ("a.txt.zip", zip_bytes(("a.txt", DATA))),
                           ("e.txt.gz", gzip_bytes(b"")), ("e.txt.zip", zip_bytes(("e.txt", b"")))):
            with self.subTest(name):
                path = self.write(name, data)
                expected = b"" if name.startswith("e") else DATA
                self.assertEqual(h.backup_content(path), expected)
                self.assertEqual(h.extract_with_tools(path), expected)

    def test_damaged_copies_are_refused(self):
        good_gz = gzip_bytes(DATA)
        bad_crc = bytearray(good_gz)
        bad_crc[-8] ^= 0xFF
        good_zip = zip_bytes(("a.txt", DATA))
        for name, data in (("cut.gz", good_gz[: len(good_gz) // 2]), ("crc.gz", bytes(bad_crc)),
                           ("two.zip", zip_bytes(("a", DATA), ("b", DATA))), ("cut.zip", good_zip[:-30]),
                           ("none.zip", b"")):
            with self.subTest(name):
                path = self.write(name, data)
                with self.assertRaises(Exception):
                    h.backup_content(path)
                if name != "two.zip":  # unzip -p concatenates several entries
                    with self.assertRaises(subprocess.CalledProcessError):
                        h.extract_with_tools(path)


class CheckBackupTreeTest(SandboxTest):
    def test_the_invariants_on_trees_made_by_hand(self):
        v1, v2, v3 = b"first" * 1000, b"second" * 1000, b"third" * 1000
        tasks = {"plain": h.Task(self.box.path("dest", "p"), ["/s"], 0),
                 "gz": h.Task(self.box.path("dest", "g"), ["/s"], 1),
                 "zip": h.Task(self.box.path("dest", "z"), ["/s"], 2)}
        encode = {"plain": lambda d: d, "gz": gzip_bytes, "zip": lambda d: zip_bytes(("f.txt", d))}
        # case: files to write as (kind, which name: "current" or version n, bytes), the sources that had a
        # current copy before, the problems expected (substrings; none for a sound tree)
        cases = [
            ("sound", [("current", v2), (1, v1)], [], []),
            ("versions in any order", [("current", v1), (1, v3), (2, v2)], ["f"], []),
            ("a leftover temporary copy", [("current", v2), ("tmp", v3[:10])], ["f"], []),
            ("part of a content", [("current", v2[:-1])], [], ["never held as a whole"]),
            ("version with a mixture", [("current", v2), (1, v1[:500] + v2[500:])], [], ["never held as a whole"]),
            ("current copy gone", [(1, v1)], ["f"], ["is gone"]),
            ("no copy yet", [], [], []),
            ("unexpected name", [("current", v1), ("stray", v1)], [], ["unexpected file"]),
        ]
        ledger = h.ContentLedger()
        for data in (v1, v2, v3):
            ledger.record("/s/f.txt", data)
        for kind, task in tasks.items():
            names = {"/s/f.txt": h.backup_names(task, "/s/f.txt")}
            n = names["/s/f.txt"]
            for title, files, had, expected in cases:
                with self.subTest(kind=kind, case=title):
                    h.write_file(n.current + ".x", b"")
                    for p in h.files_below(self.box.path("dest")):
                        os.unlink(p)
                    for which, data in files:
                        path = {"current": n.current, "tmp": n.current + ".tmp", "stray": n.current + ".old"}.get(
                            which) or (n.versions[which - 1] if isinstance(which, int) else None)
                        h.write_file(path, encode[kind](data) if which != "tmp" else data)
                    problems = h.check_backup_tree(self.box.path("dest"), names, ledger,
                                                   ["/s/f.txt"] if had else [])
                    self.assertEqual(len(problems), len(expected), problems)
                    for problem, text in zip(problems, expected):
                        self.assertIn(text, problem)

    def test_a_damaged_compressed_copy_is_a_problem(self):
        task = h.Task(self.box.path("dest"), ["/s"], 1)
        names = {"/s/f.txt": h.backup_names(task, "/s/f.txt")}
        ledger = h.ContentLedger()
        ledger.record("/s/f.txt", DATA)
        h.write_file(names["/s/f.txt"].current, gzip_bytes(DATA)[:-4])
        problems = h.check_backup_tree(self.box.path("dest"), names, ledger, [])
        self.assertEqual(len(problems), 1)
        self.assertIn("damaged copy", problems[0])


STAND_IN = textwrap.dedent("""\
    #!{python}
    # Stands in for the watchdog: prints a report line per "f NAME", an error
    # pair per "e NAME", a status answer per "s", ends with code 0 on "q".
    import sys
    print("started", flush=True)
    for line in sys.stdin:
        cmd, _, arg = line.strip().partition(" ")
        if cmd == "f":
            print(f"10:00:00 - 01: /src/{{arg}} => /dest/", flush=True)
        elif cmd == "v":
            print(f"10.12.2026 10:00:00 - 02: /src/{{arg}} => /dest/ (+2)", flush=True)
        elif cmd == "e":
            print(f"10:00:00 - 01: /src/{{arg}} => /dest/", flush=True)
            print("  *** Error - disk full", flush=True)
        elif cmd == "s":
            print("01: /src dir - x - watched, 12,345 files", flush=True)
            print("02: /other - disabled, No files", flush=True)
            print("Next backup: on demand", flush=True)
        elif cmd == "q":
            sys.exit(0)
        elif cmd == "x":
            sys.exit(3)
    """)


class WatchdogDriverTest(SandboxTest):
    def stand_in(self) -> h.Watchdog:
        exe = self.box.path("stand-in")
        with open(exe, "w") as f:
            f.write(STAND_IN.format(python=sys.executable))
        os.chmod(exe, stat.S_IRWXU)
        w = h.Watchdog(exe, self.box.settings, self.box.home)
        self.addCleanup(w.close)
        return w.start()

    def test_reports_status_and_quit(self):
        w = self.stand_in()
        w.wait_for_line(lambda l: l == "started", what="start")
        start = w.mark()
        for cmd in ("f a.txt", "e b.txt", "v c.txt"):
            w.send(cmd)
        reports = w.wait_for_reports(["/src/a.txt", "/src/b.txt", "/src/c.txt"], start)
        self.assertEqual([(r.pos, r.dest, r.moved, r.error) for r in reports.values()],
                         [(1, "/dest/", 0, None), (1, "/dest/", 0, "Error - disk full"), (2, "/dest/", 2, None)])
        self.assertEqual(w.status(), [h.StatusEntry(1, "/src dir - x", "watched", 12345),
                                      h.StatusEntry(2, "/other", "disabled", 0)])
        self.assertEqual(w.quit(), 0)

    def test_a_wait_ends_when_the_program_does(self):
        w = self.stand_in()
        w.send("x")
        with self.assertRaisesRegex(AssertionError, r"ended \(code 3\)"):
            w.wait_for_line(lambda l: l == "never", what="a line that never comes")

    def test_a_wait_gives_up_at_its_guard(self):
        w = self.stand_in()
        with self.assertRaisesRegex(AssertionError, "no a line that never comes within"):
            w.wait_for_line(lambda l: l == "never", what="a line that never comes", timeout=0.5)
        w.kill()
        self.assertLess(w.returncode, 0)

    def test_the_program_sees_a_home_of_its_own(self):
        exe = self.box.path("env-dump")
        with open(exe, "w") as f:
            f.write(f"#!{sys.executable}\nimport os,sys\nprint(os.environ['HOME'], os.environ['XDG_CONFIG_HOME'],"
                    f" sys.argv[1:], flush=True)\n")
        os.chmod(exe, stat.S_IRWXU)
        w = h.Watchdog(exe, self.box.settings, self.box.home, ["/add:t.buj"])
        self.addCleanup(w.close)
        w.start()
        self.assertEqual(w.wait_exit(), 0)
        self.assertEqual(w.lines, [f"{self.box.home} {self.box.home}/.config "
                                   f"['/console', '/ini:{self.box.settings}', '/add:t.buj']"])


if __name__ == "__main__":
    unittest.main()
