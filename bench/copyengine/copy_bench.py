#!/usr/bin/env python3
"""Times dz-copy as a whole process against the tools a user would otherwise
run, on the same data in the same run, with the page cache warm:

  plain copy (mask 0x0188)    against cp --preserve=mode,timestamps   target >= 0.8
  gzip output (mask 0x0189)   against gzip -6                         target >= 1.1
  zip output (mask 0x018B)    against zip -6                          target >= 1.1

on one large file of mixed text and binary data and on many small files,
one process per file for every tool (dz-copy runs one copy worker, as the
backup worker does for every changed file). The ratio is dz-copy's throughput over the peer's, that is the peer's
median wall time over dz-copy's; the same ratio of CPU time (user and
system, the tool's and, for the small files, the driving shell's) is shown
beside it, as it hardly moves when other work shares the machine. Runs of
dz-copy and of its peer alternate, so that a disturbance hits both.

It also reports the peak memory of a copy worker: the maximum resident size
of dz-copy (from /usr/bin/time) on the large file minus that of dz-copy
--help, which leaves the program's code and libraries out, and the same
difference of the memory touched (minor page faults); dz-copy on an empty
file is shown beside them.

Usage: copy_bench.py --dz-copy build/release/bin/dz-copy [--work DIR]
       [--size-mib 256] [--files 10000] [--file-kib 4] [--runs 5]
       [--small-runs 3] [--only plain,gzip,zip] [--baseline OTHER_DZ_COPY]
       [--no-memory] [--check]
With --baseline another dz-copy (say, a build of the code before a change)
runs in turn with dz-copy and the peer, so that a before/after pair is
measured in the same run; give it more than once to compare several builds. With --check the exit status is 1 when a target
is missed (the baseline's ratios count for nothing).
"""

import argparse
import gzip
import hashlib
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
import zipfile

BLOCK = 64 * 1024
SEED = 20240517
MEMORY_TARGET_KIB = 4 * 1024
KINDS = ("plain", "gzip", "zip")


def text_block(index, size):
    """Repetitive text, as logs, sources and documents are: compresses well."""
    words = ("backup", "monitor", "directory", "pending", "changed", "report",
             "invoice", "the", "of", "and", "to", "file", "copy", "task")
    rng = random.Random(SEED + index)
    lines = []
    length = 0
    line_no = 0
    while length < size:
        line = "%08d %s\n" % (index * 10000 + line_no,
                               " ".join(rng.choice(words) for _ in range(rng.randint(4, 14))))
        lines.append(line)
        length += len(line)
        line_no += 1
    return "".join(lines).encode("ascii")[:size]


def mixed_bytes(size, seed):
    """Half pseudo-random bytes (incompressible), half text, in blocks of
    64 KiB or, in a smaller file, of half its size."""
    rng = random.Random(seed)
    block = max(1, min(BLOCK, size // 2))
    out = bytearray()
    index = 0
    while len(out) < size:
        n = min(block, size - len(out))
        out += rng.randbytes(n) if index % 2 == 0 else text_block(index, n)
        index += 1
    return bytes(out)


def prepare_large(work, size_mib):
    path = os.path.join(work, "large-%dMiB.dat" % size_mib)
    if not (os.path.exists(path) and os.path.getsize(path) == size_mib * 1024 * 1024):
        print("generating %s ..." % path, flush=True)
        with open(path + ".tmp", "wb") as f:
            rng = random.Random(SEED)
            for index in range(size_mib * 1024 * 1024 // BLOCK):
                f.write(rng.randbytes(BLOCK) if index % 2 == 0 else text_block(index, BLOCK))
        os.replace(path + ".tmp", path)
    return path


def prepare_small(work, count, kib):
    folder = os.path.join(work, "small-%dx%dKiB" % (count, kib))
    stamp = os.path.join(folder, ".complete")
    if not os.path.exists(stamp):
        print("generating %s ..." % folder, flush=True)
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
        for i in range(count):
            with open(os.path.join(folder, "f%05d.dat" % i), "wb") as f:
                f.write(mixed_bytes(kib * 1024, SEED + i))
        open(stamp, "w").close()
    names = sorted(n for n in os.listdir(folder) if n.endswith(".dat"))
    return folder, names


def warm(paths):
    for p in paths:
        with open(p, "rb") as f:
            while f.read(1 << 20):
                pass


def run_timed(argv, stdout_path=None):
    """Wall time and CPU time (user and system, of the process and of the
    children it waited for) of one process."""
    out = open(stdout_path, "wb") if stdout_path else subprocess.DEVNULL
    try:
        with tempfile.TemporaryFile() as errors:
            start = time.perf_counter()
            proc = subprocess.Popen(argv, stdout=out, stderr=errors)
            _, status, usage = os.wait4(proc.pid, 0)
            wall = time.perf_counter() - start
            proc.returncode = os.waitstatus_to_exitcode(status)
            errors.seek(0)
            err = errors.read().decode(errors="replace")
    finally:
        if stdout_path:
            out.close()
    if proc.returncode != 0:
        sys.exit("failed (%d): %s\n%s" % (proc.returncode, " ".join(argv), err))
    return wall, usage.ru_utime + usage.ru_stime


def resident_kib(argv):
    """The maximum resident size of one process and the memory it touched
    (its minor page faults times the page size), in KiB. /usr/bin/time is
    the parent: a child forked from this Python process would inherit its
    size. The kernel updates the resident size in batches, so the page
    faults are the finer measure of a difference."""
    with tempfile.NamedTemporaryFile("r") as report:
        subprocess.run(["/usr/bin/time", "-f", "%M %R", "-o", report.name] + argv, check=True,
                       stdout=subprocess.DEVNULL)
        maxrss, faults = report.read().split()[-2:]
        return int(maxrss), int(faults) * os.sysconf("SC_PAGE_SIZE") // 1024


def shell_quote(s):
    return "'" + s.replace("'", "'\\''") + "'"


class Case:
    """One comparison: dz-copy (and, when given, a baseline dz-copy) against
    the peer, run in turn so that a disturbance hits all of them."""

    def __init__(self, kind, label, target, runs, dz_argvs, peer_argv, out_dir, sources, peer_stdout=None):
        self.kind = kind
        self.sources = sources
        self.label = label
        self.target = target
        self.runs = runs
        self.dz_argvs = dz_argvs      # dz-copy first, then the baseline
        self.peer_argv = peer_argv
        self.out_dir = out_dir
        self.peer_stdout = peer_stdout
        self.dz = [[] for _ in dz_argvs]    # (wall, cpu) of every run
        self.peer = []

    def clean(self):
        shutil.rmtree(self.out_dir, ignore_errors=True)
        os.makedirs(self.out_dir)

    def run(self):
        contestants = [(argv, None, results) for argv, results in zip(self.dz_argvs, self.dz)]
        contestants.append((self.peer_argv, self.peer_stdout, self.peer))
        for r in range(self.runs):
            # Every contestant takes every place in turn.
            shift = r % len(contestants)
            order = contestants[shift:] + contestants[:shift]
            if (r // len(contestants)) % 2 == 1:
                order.reverse()
            for argv, stdout_path, results in order:
                self.clean()
                os.sync()  # writeback of the previous run is not charged to this one
                # Machines that page out idle memory (a balloon, DAMON) drop
                # cached source pages within seconds: every run starts warm.
                warm(self.sources)
                results.append(run_timed(argv, stdout_path))

    @staticmethod
    def median(results, i):
        return statistics.median(r[i] for r in results)

    def wall_ratio(self, which=0):
        return self.median(self.peer, 0) / self.median(self.dz[which], 0)

    def cpu_ratio(self, which=0):
        return self.median(self.peer, 1) / self.median(self.dz[which], 1)


def small_files_script(path, lines):
    with open(path, "w") as f:
        f.write("set -e\n")
        f.write("\n".join(lines))
        f.write("\n")
    return ["bash", path]


def sha256_of(f):
    digest = hashlib.sha256()
    while True:
        block = f.read(1 << 20)
        if not block:
            return digest.hexdigest()
        digest.update(block)


def verify_outputs(dz_copy, source, work):
    """The timed outputs are the real thing: each one restores the source."""
    out = os.path.join(work, "verify")
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)
    with open(source, "rb") as f:
        expected = sha256_of(f)
    base = os.path.basename(source)
    run_timed([dz_copy, source, os.path.join(out, base)])
    run_timed([dz_copy, "--mask", "0x0189", source, os.path.join(out, base + ".gz")])
    run_timed([dz_copy, "--mask", "0x018B", source, os.path.join(out, base + ".zip")])
    with open(os.path.join(out, base), "rb") as f:
        plain = sha256_of(f)
    with gzip.open(os.path.join(out, base + ".gz")) as f:
        unzipped = sha256_of(f)
    with zipfile.ZipFile(os.path.join(out, base + ".zip")) as z, z.open(base) as f:
        entry = sha256_of(f)
    for label, digest in (("plain copy", plain), ("gzip", unzipped), ("zip", entry)):
        if digest != expected:
            sys.exit("dz-copy's %s output does not restore the source" % label)
    shutil.rmtree(out)


def memory(dz_copy, source, work):
    """Medians of the maximum resident size and of the memory touched by
    dz-copy: without a worker (--help), on an empty file and on the large
    file. The worker's peak is the last less the first: its buffer, the
    deflate state, its thread and the streams."""
    empty = os.path.join(work, "empty.dat")
    open(empty, "wb").close()
    out = os.path.join(work, "memory")

    def medians(argv):
        samples = []
        for _ in range(5):
            shutil.rmtree(out, ignore_errors=True)
            os.makedirs(out)
            samples.append(resident_kib(argv))
        return tuple(statistics.median(s[i] for s in samples) for i in (0, 1))

    program = medians([dz_copy, "--help"])
    rows = []
    for mask, label in (("0x0188", "plain copy"), ("0x0189", "gzip"), ("0x018B", "zip deflated")):
        on_empty = medians([dz_copy, "--mask", mask, empty, os.path.join(out, "x")])
        on_large = medians([dz_copy, "--mask", mask, source, os.path.join(out, "x")])
        rows.append((label, program, on_empty, on_large,
                     tuple(on_large[i] - program[i] for i in (0, 1))))
    shutil.rmtree(out, ignore_errors=True)
    return rows


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--dz-copy", required=True, help="the dz-copy executable (a release build)")
    parser.add_argument("--work", default=os.path.join(os.environ.get("TMPDIR", "/tmp"), "dz-copy-bench"),
                        help="folder for the generated data and the outputs (kept for the next run)")
    parser.add_argument("--size-mib", type=int, default=256)
    parser.add_argument("--files", type=int, default=10000)
    parser.add_argument("--file-kib", type=int, default=4)
    parser.add_argument("--runs", type=int, default=5, help="runs per tool on the large file")
    parser.add_argument("--small-runs", type=int, default=3, help="runs per tool on the small files")
    parser.add_argument("--only", help="the comparisons to run, of %s (all by default)" % ",".join(KINDS))
    parser.add_argument("--baseline", metavar="DZ_COPY", action="append", default=[],
                        help="another dz-copy (the build before a change) timed in the same runs; its ratio is "
                             "shown below dz-copy's (may be given more than once)")
    parser.add_argument("--no-memory", action="store_true", help="leave out the peak memory")
    parser.add_argument("--check", action="store_true", help="exit with 1 when a target is missed")
    args = parser.parse_args()

    dz_copy = os.path.abspath(args.dz_copy)
    dz_copies = [dz_copy] + [os.path.abspath(b) for b in args.baseline]
    kinds = set(args.only.split(",")) if args.only else set(KINDS)
    if not kinds <= set(KINDS):
        sys.exit("--only takes %s" % ",".join(KINDS))
    for tool in ("cp", "gzip", "zip", "bash", "/usr/bin/time"):
        if shutil.which(tool) is None:
            sys.exit("%s is not installed (tools/install-deps.sh installs the peers; /usr/bin/time is the "
                     "Debian package time)" % tool)
    os.makedirs(args.work, exist_ok=True)
    large = prepare_large(args.work, args.size_mib)
    small_dir, small_names = prepare_small(args.work, args.files, args.file_kib)
    for program in dz_copies:
        verify_outputs(program, large, args.work)

    out = os.path.join(args.work, "out")
    large_out = os.path.join(out, os.path.basename(large))
    scripts = os.path.join(args.work, "scripts")
    os.makedirs(scripts, exist_ok=True)
    # kind, peer's name, target, mask, output extension, the peer on the
    # large file, the peer's standard output, the peer's line for one small file
    comparisons = (
        ("plain", "cp", 0.8, "0x0188", "", lambda s, d: ["cp", "--preserve=mode,timestamps", s, d], False,
         lambda s, d: "cp --preserve=mode,timestamps %s %s" % (s, d)),
        ("gzip", "gzip -6", 1.1, "0x0189", ".gz", lambda s, d: ["gzip", "-6", "-c", s], True,
         lambda s, d: "gzip -6 -c %s > %s" % (s, d)),
        ("zip", "zip -6", 1.1, "0x018B", ".zip", lambda s, d: ["zip", "-6", "-q", "-j", d, s], False,
         lambda s, d: "zip -6 -q -j %s %s" % (d, s)),
    )
    large_cases = []
    small_cases = []
    for kind, peer_name, target, mask, ext, large_peer, to_stdout, small_peer in comparisons:
        if kind not in kinds:
            continue
        label = "%s vs %s" % ("plain copy" if kind == "plain" else kind, peer_name)
        dest = large_out + ext
        large_cases.append(Case(kind, "large file, " + label, target, args.runs,
                                [[p, "--mask", mask, large, dest] for p in dz_copies], large_peer(large, dest), out,
                                [large], peer_stdout=dest if to_stdout else None))
        peer_lines = []
        dz_lines = [[] for _ in dz_copies]
        for n in small_names:
            s = shell_quote(os.path.join(small_dir, n))
            d = shell_quote(os.path.join(out, n + ext))
            for lines, program in zip(dz_lines, dz_copies):
                lines.append("%s --mask %s %s %s >/dev/null" % (shell_quote(program), mask, s, d))
            peer_lines.append(small_peer(s, d))
        tag = mask[2:]
        small_cases.append(Case(kind, "%d files of %d KiB, %s" % (len(small_names), args.file_kib, label), target,
                                args.small_runs,
                                [small_files_script(os.path.join(scripts, "dz%d-%s.sh" % (i, tag)), lines)
                                 for i, lines in enumerate(dz_lines)],
                                small_files_script(os.path.join(scripts, "peer-%s.sh" % tag), peer_lines), out,
                                [os.path.join(small_dir, n) for n in small_names]))

    missed = False
    print("\n%-40s %16s %16s %7s %7s %7s" % ("median over runs", "dz-copy wall/cpu", "peer wall/cpu",
                                            "ratio", "(cpu)", "target"))
    for case in large_cases + small_cases:
        case.run()
        for which, program in enumerate(dz_copies):
            ratio = case.wall_ratio(which)
            ok = ratio >= case.target
            if which == 0:
                missed |= not ok
            label = case.label if which == 0 else "  baseline " + os.path.basename(program)
            print("%-40s %7.3f/%6.3f s %7.3f/%6.3f s %6.2fx %6.2fx %6.1fx  %s" % (
                label, case.median(case.dz[which], 0), case.median(case.dz[which], 1), case.median(case.peer, 0),
                case.median(case.peer, 1), ratio, case.cpu_ratio(which), case.target, "ok" if ok else "MISSED"),
                flush=True)
    shutil.rmtree(out, ignore_errors=True)

    size = os.path.getsize(large)
    print("\nlarge file of %d MiB, dz-copy's throughput: " % (size >> 20) + ", ".join(
        "%s %.0f MiB/s" % (c.kind, size / c.median(c.dz[0], 0) / 2**20) for c in large_cases))
    if args.no_memory:
        return args, missed

    print("\npeak memory of a copy worker: maximum resident size / memory touched, KiB")
    print("%-14s %13s %13s %13s %13s" % ("dz-copy", "--help", "empty file", "large file", "worker"))
    for label, program, on_empty, on_large, worker in memory(dz_copy, large, args.work):
        ok = max(worker) < MEMORY_TARGET_KIB
        missed |= not ok
        print("%-14s %6d/%6d %6d/%6d %6d/%6d %6d/%6d  %s" % (
            (label,) + program + on_empty + on_large + worker + ("ok" if ok else "MISSED",)))

    return args, missed


if __name__ == "__main__":
    arguments, missed = main()
    if arguments.check and missed:
        sys.exit(1)
