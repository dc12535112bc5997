"""Helpers for driving the dezedodiru executable from the outside.

The tests start the real program in console mode on folders of their own,
change files the way people and editors do, and look at what lands in the
destination. Everything here waits for an event (a line on standard output,
a file, the process's end); the time-outs are only a guard against a hang
and are measured in minutes, so that a busy machine slows a test down
without failing it.

Environment:
  DZ_EXE          the dezedodiru executable (required)
  DZ_E2E_PROBE    the dz-e2e-probe helper (for the harness's own tests)
  DZ_E2E_GUARD    seconds before a wait gives up (default 600)
"""

import codecs
import dataclasses
import gzip
import hashlib
import os
import re
import shutil
import subprocess
import tempfile
import threading
import time
import zipfile
from typing import Callable, Iterable, Optional

GUARD = float(os.environ.get("DZ_E2E_GUARD", "600"))
# The settings file is named after the executable.
SETTINGS_NAME = os.path.basename(os.environ.get("DZ_EXE") or "dezedodiru") + ".ini"


def required_env(name: str) -> str:
    value = os.environ.get(name, "")
    if not value:
        raise RuntimeError(f"{name} is not set: run the test through ctest, or set it to the program's path")
    if not os.access(value, os.X_OK):
        raise RuntimeError(f"{name}={value} is not an executable file")
    return value


# ---------------------------------------------------------------------------
# INI files: UTF-16LE with byte-order mark, CR LF after every line.

def ini_bytes(sections: Iterable[tuple[str, Iterable[tuple[str, object]]]]) -> bytes:
    lines = []
    for name, keys in sections:
        lines.append(f"[{name}]")
        lines.extend(f"{key}={value}" for key, value in keys)
        lines.append("")
    return codecs.BOM_UTF16_LE + "".join(line + "\r\n" for line in lines).encode("utf-16-le")


def write_ini(path: str, sections) -> None:
    with open(path, "wb") as f:
        f.write(ini_bytes(sections))


def decode_text_file(data: bytes) -> str:
    """Text of an INI or log file by its byte-order mark (UTF-8 without one)."""
    for bom, encoding in ((codecs.BOM_UTF8, "utf-8"), (codecs.BOM_UTF16_LE, "utf-16-le"),
                          (codecs.BOM_UTF16_BE, "utf-16-be")):
        if data.startswith(bom):
            return data[len(bom):].decode(encoding)
    return data.decode("utf-8")


def read_ini(path: str) -> dict[str, dict[str, str]]:
    """Sections and keys, names folded to lower case; the first of duplicates wins."""
    with open(path, "rb") as f:
        text = decode_text_file(f.read())
    sections: dict[str, dict[str, str]] = {}
    current = None
    for raw in re.split(r"\r\n|\r|\n", text):
        line = raw.strip("".join(chr(c) for c in range(33)))
        if not line or line.startswith(";"):
            continue
        if line.startswith("[") and line.endswith("]"):
            current = sections.setdefault(line[1:-1].strip().lower(), {})
        elif current is not None and "=" in line:
            key, value = line.split("=", 1)
            current.setdefault(key.strip().lower(), value.strip())
    return sections


# ---------------------------------------------------------------------------
# Task and settings files.

# The extensions the tests' tasks never compress. Tasks name them outright,
# so that what is compressed does not hang on a default list.
NO_COMP_TYPES = ("gz", "jpg", "png", "zip")


@dataclasses.dataclass
class Task:
    destination: str
    sources: list
    compress: int = 0  # 0 plain copies, 1 gzip, 2 zip
    exclude: tuple = ()  # extensions left out
    excluded_dirs: tuple = ()  # sub-folders (relative) left out
    no_comp_types: tuple = NO_COMP_TYPES

    def sections(self):
        destination = self.destination if self.destination.endswith("/") else self.destination + "/"
        yield "Global", [
            ("Destination", destination),
            ("DestMode", 1),
            ("Compress", 1 if self.compress else 0),
            ("CompressAsZip", 1 if self.compress == 2 else 0),
            ("NoCompTypes", ",".join(self.no_comp_types)),
            ("DirCount", len(self.sources)),
        ]
        for index, source in enumerate(self.sources):
            keys = [("Source", source), ("BackupMode", 1), ("Exclude", ",".join(self.exclude)),
                    ("IncludeDirs", 0), ("SubCount", len(self.excluded_dirs))]
            keys += [(f"SubDir{i:03d}", d) for i, d in enumerate(self.excluded_dirs)]
            yield f"Dir{index:03d}", keys

    def suffix_for(self, name: str) -> str:
        """".gz", ".zip" or "" for a source file of this task."""
        if self.compress == 0:
            return ""
        if self.compress == 1:
            # A gzip file keeps no name of its own: it would be the name of
            # the compressed copy of the file named without ".gz".
            kept = extension(name).lower() in self.no_comp_types and extension(name).lower() != "gz"
            return "" if kept else ".gz"
        return ".zip"

    def passes(self, relative: str) -> bool:
        """Whether a file (relative to its source) is backed up at all. An
        excluded folder covers every folder path it begins ("cache" also
        covers "cachet/"), as the program's sub-folder masks do."""
        if extension(relative).lower() in (e.lower() for e in self.exclude):
            return False
        folder = relative[: relative.rfind("/") + 1]
        return not any(folder.lower().startswith(d.lower()) for d in self.excluded_dirs)


def write_task(path: str, task: Task) -> None:
    write_ini(path, task.sections())


@dataclasses.dataclass
class Monitor:
    task: str
    directory: str
    retain: int = 0
    enabled: bool = True
    files: list = dataclasses.field(default_factory=list)


def settings_sections(monitors: list, interval: int, write_log: bool = True, last_save: Optional[int] = None):
    """last_save: seconds since 1970 of the last save, from which on (less a
    margin) changes made while the program did not run are looked for; None
    for a file that never had one (no such look at the start)."""
    config = [("Interval", interval), ("WriteLog", 1 if write_log else 0), ("Count", len(monitors))]
    if last_save is not None:
        config.append(("LastSave", last_save))
    yield "Config", config
    for index, m in enumerate(monitors):
        keys = [("BackupTask", m.task), ("Directory", m.directory), ("RetainBak", m.retain),
                ("Enabled", 1 if m.enabled else 0), ("Count", len(m.files))]
        keys += [(f"File{i:03d}", f) for i, f in enumerate(m.files)]
        yield f"Monitor{index:02d}", keys


def write_settings(settings_dir: str, monitors: list, interval: int, write_log: bool = True,
                   last_save: Optional[int] = None) -> str:
    path = os.path.join(settings_dir, SETTINGS_NAME)
    write_ini(path, settings_sections(monitors, interval, write_log, last_save))
    return path


def set_setting(settings_dir: str, section: str, key: str, value) -> None:
    """Changes one key of the settings file while the program is not running,
    keeping everything else the file holds."""
    path = os.path.join(settings_dir, SETTINGS_NAME)
    with open(path, "rb") as f:
        lines = [l.strip() for l in re.split(r"\r\n|\r|\n", decode_text_file(f.read()))]
    header = next((i for i, l in enumerate(lines) if l.lower() == f"[{section.lower()}]"), None)
    if header is None:
        lines += [f"[{section}]", f"{key}={value}"]
    else:
        end = next((i for i in range(header + 1, len(lines)) if lines[i].startswith("[")), len(lines))
        at = next((i for i in range(header + 1, end)
                   if lines[i].split("=", 1)[0].strip().lower() == key.lower() and "=" in lines[i]), None)
        if at is None:
            lines.insert(header + 1, f"{key}={value}")
        else:
            lines[at] = f"{key}={value}"
    with open(path, "wb") as f:
        f.write(codecs.BOM_UTF16_LE + "".join(l + "\r\n" for l in lines if l).encode("utf-16-le"))


def pending_in_settings(settings_dir: str) -> dict[str, list]:
    """The pending files the settings file holds, by monitored directory."""
    ini = read_ini(os.path.join(settings_dir, SETTINGS_NAME))
    out = {}
    for name, keys in ini.items():
        if re.fullmatch(r"monitor\d{2,}", name):
            count = int(keys.get("count", "0") or 0)
            out[keys.get("directory", "")] = [keys[f"file{i:03d}"] for i in range(count) if f"file{i:03d}" in keys]
    return out


# ---------------------------------------------------------------------------
# Names in the destination.

def extension(path: str) -> str:
    name = path.rsplit("/", 1)[-1]
    return name.rsplit(".", 1)[1] if "." in name else ""


def insert_before_extension(path: str, text: str) -> str:
    head, sep, name = path.rpartition("/")
    if "." in name:
        stem, ext = name.rsplit(".", 1)
        name = f"{stem}{text}.{ext}"
    else:
        name += text
    return head + sep + name


def target_of(destination: str, source_path: str) -> str:
    """The target of a source file with the full original structure (before
    any ".gz" or ".zip")."""
    return os.path.join(destination, source_path.lstrip("/"))


@dataclasses.dataclass
class BackupNames:
    current: str
    versions: list  # ".bak-1" .. ".bak-3", each with the suffix

    def all(self):
        return [self.current] + self.versions


def backup_names(task: Task, source_path: str) -> BackupNames:
    target = target_of(task.destination, source_path)
    suffix = task.suffix_for(source_path)
    return BackupNames(target + suffix, [insert_before_extension(target, f".bak-{n}") + suffix for n in (1, 2, 3)])


TEMPORARY_NAME = re.compile(r"\.tmp\d*$")


def is_temporary(path: str) -> bool:
    return bool(TEMPORARY_NAME.search(path))


def backup_content(path: str) -> bytes:
    """The bytes a backup copy holds: plain, one gzip member or a zip with one
    entry. Raises when the copy is damaged (CRC, size, truncation)."""
    if path.endswith(".gz"):
        with gzip.open(path, "rb") as f:
            return f.read()
    if path.endswith(".zip"):
        with zipfile.ZipFile(path) as z:
            names = z.namelist()
            if len(names) != 1:
                raise ValueError(f"{path}: {len(names)} entries instead of one")
            return z.read(names[0])
    with open(path, "rb") as f:
        return f.read()


def extract_with_tools(path: str) -> bytes:
    """The same as backup_content, through the gzip and unzip programs."""
    if path.endswith(".gz"):
        return subprocess.run(["gzip", "-dc", path], check=True, capture_output=True).stdout
    if path.endswith(".zip"):
        subprocess.run(["unzip", "-tq", path], check=True, capture_output=True)
        return subprocess.run(["unzip", "-p", path], check=True, capture_output=True).stdout
    with open(path, "rb") as f:
        return f.read()


def digest(data: bytes) -> str:
    return hashlib.sha256(data).hexdigest()


class ContentLedger:
    """Every complete content each source file has had (as digests), and
    its latest one."""

    def __init__(self):
        self.seen: dict = {}
        self.latest: dict = {}

    def record(self, source: str, data: bytes) -> None:
        self.seen.setdefault(source, set()).add(digest(data))
        self.latest[source] = digest(data)

    def knows(self, source: str, data: bytes) -> bool:
        return digest(data) in self.seen.get(source, ())


def check_backup_tree(dest_root: str, names: dict, ledger: ContentLedger, had_current: Iterable[str],
                      sound: Optional[dict] = None) -> list:
    """What is wrong with a destination tree after a crash, as a list of
    texts (empty when nothing is). names maps each source file to its
    BackupNames. Every file under a final name (a current copy or a
    version) must hold, after decompression, a complete content its source
    once had; a temporary copy (".tmp", ".tmp1", ...) is not a final name;
    any other name is unexpected; every source in had_current must still
    have its current copy. sound, when given, remembers the files found
    sound by their identity (inode, size, times), so that a later check
    reads only what changed since."""
    owner = {name: source for source, n in names.items() for name in n.all()}
    problems = []
    for path in files_below(dest_root):
        if is_temporary(path):
            continue
        source = owner.get(path)
        if source is None:
            problems.append(f"unexpected file {path}")
            continue
        st = os.stat(path)
        identity = (st.st_ino, st.st_size, st.st_mtime_ns, st.st_ctime_ns)
        if sound is not None and sound.get(path) == identity:
            continue
        try:
            data = backup_content(path)
        except Exception as e:  # any damage at all is the finding
            problems.append(f"{path}: damaged copy of {source}: {e!r}")
            continue
        if not ledger.knows(source, data):
            problems.append(f"{path}: {len(data)} bytes that {source} never held as a whole")
        elif sound is not None:
            sound[path] = identity
    for source in had_current:
        if not os.path.isfile(names[source].current):
            problems.append(f"{names[source].current}: the current copy of {source} is gone")
    return problems


def files_below(root: str) -> list:
    out = []
    for dirpath, _, names in os.walk(root):
        out += [os.path.join(dirpath, n) for n in names]
    return sorted(out)


# ---------------------------------------------------------------------------
# Saving files as programs do.

def write_file(path: str, data: bytes) -> None:
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def save_via_temporary(path: str, data: bytes) -> None:
    """Write a new file beside the old one and rename it over it."""
    temp = os.path.join(os.path.dirname(path), ".goutputstream-" + os.urandom(3).hex())
    write_file(temp, data)
    os.replace(temp, path)


def save_renaming_old_away(path: str, data: bytes) -> None:
    """Rename the old file to a backup name, write anew, delete the backup."""
    backup = path + "~"
    os.rename(path, backup)
    write_file(path, data)
    os.unlink(backup)


def save_in_place(path: str, data: bytes) -> None:
    """Truncate the file and write it again, in two pieces."""
    with open(path, "r+b") as f:
        f.truncate(0)
        half = len(data) // 2
        f.write(data[:half])
        f.flush()
        f.write(data[half:])


EDITOR_SAVES = {
    "temporary-renamed-over": save_via_temporary,
    "old-renamed-away": save_renaming_old_away,
    "truncated-in-place": save_in_place,
}


# ---------------------------------------------------------------------------
# Lines the program prints.

FILE_LINE = re.compile(r"^(?P<time>.*?) - (?P<pos>\d{2,}): (?P<source>.+) => (?P<dest>.+?)(?: \(\+(?P<moved>\d+)\))?$")
NOT_READY_LINE = re.compile(r'^ \*\*\* (?P<time>.*?) - (?P<pos>\d{2,}): Drive "(?P<name>.*)" not ready!$')
STATUS_LINE = re.compile(r"^(?P<pos>\d{2,}): (?P<rest>.* - .*)$")


@dataclasses.dataclass
class FileReport:
    index: int  # of the line among the program's output lines
    pos: int
    source: str
    dest: str
    moved: int
    error: Optional[str]  # the text after "  *** " on the next line


def file_reports(lines: list, start: int = 0) -> list:
    out = []
    for i in range(start, len(lines)):
        m = FILE_LINE.match(lines[i])
        if not m or lines[i].startswith(" *** "):
            continue
        error = None
        if i + 1 < len(lines) and lines[i + 1].startswith("  *** "):
            error = lines[i + 1][len("  *** "):]
        out.append(FileReport(i, int(m["pos"]), m["source"], m["dest"], int(m["moved"] or 0), error))
    return out


def count_from_text(text: str) -> int:
    """The number in "No files", "1 file", "12 files", "12,345 files"."""
    if text.strip() == "No files":
        return 0
    m = re.fullmatch(r"\s*([\d.,' \u00a0\u202f]+?)\s+files?\s*", text)
    if not m:
        raise ValueError(f"not a count text: {text!r}")
    return int(re.sub(r"\D", "", m[1]))


@dataclasses.dataclass
class StatusEntry:
    pos: int
    directory: str
    state: str
    count: int


# ---------------------------------------------------------------------------
# The running program.

class Watchdog:
    """One run of `dezedodiru /console /ini:SETTINGS`, with its output
    collected line by line. With console false the program chooses its
    front-end itself (the window where base_env names a display); base_env
    replaces the test's own environment, before the folders of the
    sandbox's home are set."""

    def __init__(self, exe: str, settings_dir: str, home: str, args: Iterable[str] = (), console: bool = True,
                 base_env: Optional[dict] = None):
        self.exe = exe
        self.settings_dir = settings_dir
        self.home = home
        self.args = list(args)
        self.console = console
        self.base_env = base_env
        self.proc: Optional[subprocess.Popen] = None
        self.lines: list = []
        self.errors: list = []
        self.returncode: Optional[int] = None
        self._cond = threading.Condition()
        self._readers: list = []

    def environment(self) -> dict:
        env = dict(os.environ if self.base_env is None else self.base_env)
        env.update(HOME=self.home, XDG_CONFIG_HOME=os.path.join(self.home, ".config"),
                   XDG_DATA_HOME=os.path.join(self.home, ".local", "share"),
                   XDG_CACHE_HOME=os.path.join(self.home, ".cache"),
                   LC_ALL="C.UTF-8", LANGUAGE="en")
        return env

    def start(self, extra_args: Iterable[str] = ()) -> "Watchdog":
        assert self.proc is None or self.proc.poll() is not None, "already running"
        self.lines, self.errors, self.returncode = [], [], None
        front = ["/console"] if self.console else []
        cmd = [self.exe, *front, f"/ini:{self.settings_dir}", *self.args, *extra_args]
        self.proc = subprocess.Popen(cmd, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                     env=self.environment(), start_new_session=True)
        self._readers = [threading.Thread(target=self._read, args=(self.proc.stdout, self.lines), daemon=True),
                         threading.Thread(target=self._read, args=(self.proc.stderr, self.errors), daemon=True)]
        for t in self._readers:
            t.start()
        return self

    def _read(self, stream, into: list) -> None:
        for raw in iter(stream.readline, b""):
            line = raw.decode("utf-8", "replace").rstrip("\n").rstrip("\r")
            with self._cond:
                into.append(line)
                self._cond.notify_all()
        with self._cond:
            self._cond.notify_all()

    def running(self) -> bool:
        return self.proc is not None and self.proc.poll() is None

    def mark(self) -> int:
        with self._cond:
            return len(self.lines)

    def output(self, last: int = 60) -> str:
        with self._cond:
            out = "\n".join(self.lines[-last:])
            err = "\n".join(self.errors[-20:])
        return f"--- stdout (last {last} lines) ---\n{out}\n--- stderr ---\n{err}"

    def wait_for(self, predicate: Callable[[], bool], what: str, timeout: float = GUARD):
        """Waits until predicate() (called with the lines locked) holds."""
        deadline = time.monotonic() + timeout
        with self._cond:
            while True:
                result = predicate()
                if result:
                    return result
                if not self.running() and not any(t.is_alive() for t in self._readers):
                    raise AssertionError(f"the program ended (code {self.proc.returncode}) while waiting for "
                                         f"{what}\n{self._output_locked()}")
                remaining = deadline - time.monotonic()
                if remaining <= 0:
                    raise AssertionError(f"no {what} within {timeout:.0f} s\n{self._output_locked()}")
                self._cond.wait(min(remaining, 1.0))

    def _output_locked(self) -> str:
        return "--- stdout ---\n" + "\n".join(self.lines[-60:]) + "\n--- stderr ---\n" + "\n".join(self.errors[-20:])

    def wait_for_line(self, predicate: Callable[[str], bool], start: int = 0, what: str = "matching line",
                      timeout: float = GUARD) -> int:
        """Index of the first line from start on that satisfies predicate."""
        def found():
            for i in range(start, len(self.lines)):
                if predicate(self.lines[i]):
                    return i + 1
            return 0
        return self.wait_for(found, what, timeout) - 1

    def wait_for_reports(self, sources: Iterable[str], start: int, timeout: float = GUARD,
                         barrier: bool = True) -> dict:
        """Waits until every source has a file report after start; the last
        report of each, with its error line. A status question afterwards
        (barrier) makes sure that a failure's second line has arrived too:
        the program answers after everything it printed before."""
        wanted = set(sources)
        reported = lambda: {r.source for r in file_reports(self.lines, start)}
        try:
            self.wait_for(lambda: wanted <= reported(), "report of every file", timeout)
        except AssertionError as e:
            with self._cond:
                raise AssertionError(f"{e}\nno report for: {sorted(wanted - reported())}") from None
        if barrier:
            self.status()
        with self._cond:
            return {r.source: r for r in file_reports(self.lines, start) if r.source in wanted}

    def send(self, command: str) -> None:
        self.proc.stdin.write((command + "\n").encode())
        self.proc.stdin.flush()

    def status(self) -> list:
        """Sends "s" and returns the entries of the answer."""
        start = self.mark()
        self.send("s")
        end = self.wait_for_line(lambda l: l.startswith("Next backup: "), start, "status answer")
        entries = []
        with self._cond:
            for line in self.lines[start:end]:
                m = STATUS_LINE.match(line)
                if not m:
                    continue
                head, _, tail = m["rest"].rpartition(" - ")
                # The count may be followed by more: ", 2 given up".
                state, _, count = tail.partition(", ")
                count = count.partition(", ")[0]
                entries.append(StatusEntry(int(m["pos"]), head, state, count_from_text(count)))
        return entries

    def wait_for_status(self, predicate: Callable[[list], bool], what: str, timeout: float = GUARD) -> list:
        """Asks for the status until predicate holds for its entries."""
        deadline = time.monotonic() + timeout
        while True:
            entries = self.status()
            if predicate(entries):
                return entries
            if time.monotonic() > deadline:
                raise AssertionError(f"status never showed {what}: {entries}\n{self.output()}")
            time.sleep(0.1)  # between two questions, not a wait for the result

    def wait_exit(self, timeout: float = GUARD) -> int:
        try:
            self.returncode = self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            raise AssertionError(f"the program did not end within {timeout:.0f} s\n{self.output()}") from None
        for t in self._readers:
            t.join(timeout)
        return self.returncode

    def quit(self, timeout: float = GUARD) -> int:
        self.send("q")
        return self.wait_exit(timeout)

    def signal(self, sig: int) -> None:
        self.proc.send_signal(sig)

    def catches(self, sig: int) -> bool:
        """Whether the program has its handler for sig in place (before
        that, SIGHUP would end it)."""
        try:
            with open(f"/proc/{self.proc.pid}/status") as f:
                caught = next(int(l.split()[1], 16) for l in f if l.startswith("SigCgt:"))
        except (OSError, StopIteration):
            return False
        return bool(caught & (1 << (sig - 1)))

    def kill(self) -> None:
        if self.running():
            self.proc.kill()
        self.wait_exit()

    def close(self) -> None:
        """Ends the program if it still runs (a test's clean-up)."""
        if self.proc is None:
            return
        if self.running():
            self.proc.kill()
        try:
            self.proc.wait(60)
        except subprocess.TimeoutExpired:
            pass
        for stream in (self.proc.stdin, self.proc.stdout, self.proc.stderr):
            try:
                stream.close()
            except OSError:
                pass


# ---------------------------------------------------------------------------
# A folder of a test's own.

class Sandbox:
    """A fresh folder with home/, settings/, dest/ and the sources below it."""

    def __init__(self, prefix: str = "dz-e2e-"):
        self.root = os.path.realpath(tempfile.mkdtemp(prefix=prefix))
        self.home = self.path("home")
        self.settings = self.path("settings")
        self.dest = self.path("dest") + "/"
        for d in (self.home, self.settings, self.dest):
            os.makedirs(d, exist_ok=True)
        self.mounts: list = []

    def path(self, *parts: str) -> str:
        return os.path.join(self.root, *parts)

    def mount_tmpfs(self, where: str, size: str) -> None:
        os.makedirs(where, exist_ok=True)
        subprocess.run(["mount", "-t", "tmpfs", "-o", f"size={size},mode=0755", "tmpfs", where], check=True,
                       capture_output=True)
        self.mounts.append(where)

    def unmount(self, where: str) -> None:
        subprocess.run(["umount", where], check=True, capture_output=True)
        self.mounts.remove(where)

    def cleanup(self) -> None:
        for where in reversed(self.mounts):
            subprocess.run(["umount", "-l", where], capture_output=True)
        self.mounts.clear()
        shutil.rmtree(self.root, ignore_errors=True)


def log_files(settings_dir: str) -> list:
    return sorted(os.path.join(settings_dir, n) for n in os.listdir(settings_dir)
                  if re.fullmatch(r"DeZedodiru \d{4}-\d{2}-\d{2}\.log", n))

