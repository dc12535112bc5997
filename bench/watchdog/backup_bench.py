#!/usr/bin/env python3
"""Times a whole backup run (dz-backup-run: one backup worker over a tree,
one process) against the tools a user would otherwise run over the same
tree, in the same run, with the page cache warm:

  plain copies       against rsync -a SRC/ DEST/   target: at least as fast (ratio >= 1)
                     against rsync -a --fsync      target: at least as fast (ratio >= 1)
                     against cp -a SRC DEST        target: within 1.5 times (ratio >= 0.67)
  gzip copies        against gzip -6 -k -r         target: within 1.2 times (ratio >= 0.83)
                                                   one large file: 1.8 times faster (ratio >= 1.8)
  zip copies         against zip -6 -r             target: within 1.2 times (ratio >= 0.83)
                                                   one large file: 1.8 times faster (ratio >= 1.8)

on a tree of many small files (10,000 of 4 KiB in 100 folders) and on one
large file. Every run writes into a fresh, empty destination. The backup
run is timed with its flushes (every copy flushed before it gets its final
name, the directories flushed at the end) and without them (--no-flush),
so that the cost of the flushes shows; the peers flush nothing, but cp -a is
also timed followed by sync -f of its output, which is what the same
durability costs it (no target: it shows how much of a flushed run is the
disk's own time), and rsync -a --fsync (rsync 3.2.4 or later) flushes
every file it writes, as the backup run does: the peer of the same
durability. A large file is compressed on every core (the copy engine
deflates it in pieces), hence the higher target against gzip and zip,
which use one.

The peers run as one process each, as dz-backup-run does: gzip compresses
files in place, so before each of its runs the tree is copied into the
destination with cp -a (not timed; flushed to the disk with sync before
the clock starts) and gzip -6 -k -r then writes a .gz beside every file,
which reads and writes what the backup run reads and writes. zip -6 -r
writes one archive of the whole tree where the backup run writes one
archive per file.

The ratio is the peer's median wall time over dz-backup-run's (above 1:
dz-backup-run is faster); the ratio of CPU time (user and system) is shown
beside it. Runs of all contestants of a comparison alternate, each taking
every place in turn, so that a disturbance hits all of them.

Every run writes into a fresh, empty destination. The outputs of the
many-files runs are moved aside and removed only at the end: on an ext4
without a journal the kernel skips inodes freed in the last minutes when it
makes new files, so a tree just removed would slow down whoever writes next,
and by how much depends on where its folders land.

Memory, from dz-backup-run's own report (VmRSS when the workers start, the
peak VmHWM while they run): one worker over the large file of each kind,
target below 4 MiB more than the process had before; and 25 workers at once
(one main-thread queue), each over its own destination of a mixed tree
(400 files of 4 KiB and one of 8 MiB), target below 64 MiB for the whole
process.

rsync is not a dependency of the program but one of the bench's peers,
installed with the others by tools/install-deps.sh; when it is missing (or
too old for --fsync) the script says so and leaves that peer out.

The file system is the one of --work (by default below the temporary
folder). With --ext4-loop the whole bench runs on a new journalled ext4
(mkfs.ext4 defaults: journal, data=ordered), what most users' home folders
are: the script makes a sparse image of --ext4-gib GiB inside --work,
attaches it to a loop device with direct I/O (so that the image's own
file system adds no second page cache and a flush reaches the disk),
mounts it, runs everything there and unmounts, detaches and removes it
at the end, also after a failure. That needs root (mount and losetup):
run the script with sudo, or as root.

Usage: backup_bench.py --dz-backup-run build/release/bin/dz-backup-run
       [--work DIR] [--ext4-loop [--ext4-gib 8]] [--large-mib 1024]
       [--files 10000] [--file-kib 4] [--runs 3] [--only plain,gzip,zip]
       [--no-memory] [--workers 25] [--check]
With --check the exit status is 1 when a target is missed.
"""

import argparse
import contextlib
import gzip
import os
import re
import shutil
import statistics
import subprocess
import sys
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "copyengine"))
from copy_bench import SEED, mixed_bytes, prepare_large, run_timed, warm  # noqa: E402

LARGE_COMPRESSED_TARGET = 1.8
MEMORY_TARGET_KIB = 4 * 1024
WORKERS_TARGET_KIB = 64 * 1024
KINDS = ("plain", "gzip", "zip")
FOLDERS = 100


def generate_tree(root, files):
    """Writes files, (path below root, size, seed) each, unless a stamp beside
    root says that an earlier run completed them."""
    stamp = root + ".complete"
    if not os.path.exists(stamp):
        print("generating %s ..." % root, flush=True)
        shutil.rmtree(root, ignore_errors=True)
        for rel, size, seed in files:
            path = os.path.join(root, rel)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(mixed_bytes(size, seed))
        open(stamp, "w").close()
    return root


def prepare_small_tree(work, count, kib):
    return generate_tree(os.path.join(work, "tree-%dx%dKiB" % (count, kib)),
                         [(os.path.join("d%03d" % (i % FOLDERS), "f%05d.dat" % i), kib * 1024, SEED + i)
                          for i in range(count)])


def prepare_large_tree(work, mib):
    root = os.path.join(work, "large-%dMiB" % mib)
    os.makedirs(root, exist_ok=True)
    prepare_large(root, mib)
    return root


def discard(path, trash):
    """Removes path now, or moves it into the folder trash to be removed at
    the end (see the head of this file)."""
    if not os.path.exists(path):
        return
    if trash is None:
        shutil.rmtree(path)
        return
    os.makedirs(trash, exist_ok=True)
    os.rename(path, os.path.join(trash, "%d" % len(os.listdir(trash))))


def prepare_mixed_tree(work, large_mib=8, count=400, kib=4):
    """The tree of each of the many workers: small files and one larger."""
    return generate_tree(os.path.join(work, "mixed-%dx%dKiB-%dMiB" % (count, kib, large_mib)),
                         [("f%05d.dat" % i, kib * 1024, SEED + i) for i in range(count)]
                         + [("large.dat", large_mib << 20, SEED)])


def files_below(root):
    return sorted(os.path.join(d, n) for d, _, names in os.walk(root) for n in names)


class Contestant:
    def __init__(self, name, argv, setup=None):
        self.name = name
        self.argv = argv
        self.setup = setup   # called with nothing, before the clock starts
        self.results = []    # (wall, cpu) of every run

    def median(self, i):
        return statistics.median(r[i] for r in self.results)


class Comparison:
    """dz-backup-run with and without its flushes against one or two peers,
    all writing into the same fresh destination in turn."""

    def __init__(self, label, dest, sources, contestants, checks, trash):
        self.label = label
        self.dest = dest
        self.trash = trash  # where outputs go until the end, or None
        self.sources = sources
        self.contestants = contestants
        self.checks = checks  # (dz contestant, peer contestant, target)

    def run(self, runs):
        for r in range(runs):
            shift = r % len(self.contestants)
            order = self.contestants[shift:] + self.contestants[:shift]
            if (r // len(self.contestants)) % 2 == 1:
                order.reverse()
            for c in order:
                discard(self.dest, self.trash)
                os.makedirs(self.dest)
                if c.setup:
                    c.setup()
                os.sync()  # writeback of the previous run is not charged to this one
                warm(self.sources)
                c.results.append(run_timed(c.argv))


def find_copy(dest, source_root, source, suffix):
    """The backup run's copy of source: below dest, at the source's full path
    without its root."""
    path = os.path.join(dest, os.path.relpath(source, "/")) + suffix
    if not os.path.exists(path):
        sys.exit("dz-backup-run left no copy %s" % path)
    return path


def verify(dz, tree, work, trash):
    """The timed outputs are the real thing: the copies restore the sources."""
    dest = os.path.join(work, "verify")
    sources = files_below(tree)
    sample = sources[:: max(1, len(sources) // 5)]
    for kind, option, suffix in (("plain", "none", ""), ("gzip", "gz", ".gz"), ("zip", "zip", ".zip")):
        discard(dest, trash)
        run_timed([dz, "--compress", option, tree, dest])
        for source in sample:
            path = find_copy(dest, tree, source, suffix)
            with open(source, "rb") as f:
                expected = f.read()
            if kind == "plain":
                with open(path, "rb") as f:
                    got = f.read()
            elif kind == "gzip":
                with gzip.open(path) as f:
                    got = f.read()
            else:
                with zipfile.ZipFile(path) as z:
                    got = z.read(z.namelist()[0])
            if got != expected:
                sys.exit("dz-backup-run's %s copy %s does not restore its source" % (kind, path))
    discard(dest, trash)


def comparisons(dz, tree, label, work, kinds, rsync, trash, compressed_target=1 / 1.2):
    dest = os.path.join(work, "out")
    sources = files_below(tree)
    result = []

    def backup(option, flush=True):
        return [dz, "--compress", option] + ([] if flush else ["--no-flush"]) + [tree, dest]

    if "plain" in kinds:
        dz_flush = Contestant("dz-backup-run", backup("none"))
        dz_noflush = Contestant("  without flushes", backup("none", False))
        cp = Contestant("cp -a", ["cp", "-a", tree, dest])
        # What the same durability costs cp: its copies flushed to the disk
        # once, at the end (no target; it shows how much of the flushed run
        # is the disk's time).
        cp_sync = Contestant("cp -a, then sync -f", ["sh", "-c", 'cp -a "$1" "$2" && exec sync -f "$2"', "sh",
                                                     tree, dest])
        peers = [cp, cp_sync]
        checks = [(dz_flush, cp, 1 / 1.5), (dz_noflush, cp, None), (dz_flush, cp_sync, None)]
        if rsync["plain"]:
            plain = Contestant("rsync -a", ["rsync", "-a", tree + "/", dest + "/"])
            peers.insert(0, plain)
            checks = [(dz_flush, plain, 1.0), (dz_noflush, plain, None)] + checks
        if rsync["fsync"]:
            durable = Contestant("rsync -a --fsync", ["rsync", "-a", "--fsync", tree + "/", dest + "/"])
            peers.insert(1 if rsync["plain"] else 0, durable)
            checks.insert(2 if rsync["plain"] else 0, (dz_flush, durable, 1.0))
        result.append(Comparison(label + ", plain", dest, sources, [dz_flush, dz_noflush] + peers, checks, trash))
    if "gzip" in kinds:
        copy = os.path.join(dest, "tree")
        dz_flush = Contestant("dz-backup-run", backup("gz"))
        dz_noflush = Contestant("  without flushes", backup("gz", False))
        peer = Contestant("gzip -6 -k -r", ["gzip", "-6", "-k", "-r", copy],
                          setup=lambda: subprocess.run(["cp", "-a", tree, copy], check=True))
        result.append(Comparison(label + ", gzip", dest, sources, [dz_flush, dz_noflush, peer],
                                 [(dz_flush, peer, compressed_target), (dz_noflush, peer, None)], trash))
    if "zip" in kinds:
        dz_flush = Contestant("dz-backup-run", backup("zip"))
        dz_noflush = Contestant("  without flushes", backup("zip", False))
        # zip stores the names it is given: run it from the tree's parent.
        peer = Contestant("zip -6 -r", ["sh", "-c", 'cd "$1" && exec zip -6 -r -q "$2" "$3"', "sh",
                                        os.path.dirname(tree), os.path.join(dest, "all.zip"),
                                        os.path.basename(tree)])
        result.append(Comparison(label + ", zip", dest, sources, [dz_flush, dz_noflush, peer],
                                 [(dz_flush, peer, compressed_target), (dz_noflush, peer, None)], trash))
    return result


def resident_report(argv):
    """dz-backup-run's memory line: (KiB when the workers started, peak KiB)."""
    out = subprocess.run(argv, check=True, capture_output=True, text=True).stdout
    for line in out.splitlines():
        m = re.match(r"resident: (\d+) KiB when .* started, peak (\d+) KiB", line)
        if m:
            return int(m.group(1)), int(m.group(2))
    sys.exit("dz-backup-run printed no memory line:\n" + out)


def memory(dz, large, mixed, work, workers):
    """Medians of three runs, KiB: (what, before, peak, growth, target)."""
    dest = os.path.join(work, "memory")

    def medians(argv):
        samples = []
        for _ in range(3):
            shutil.rmtree(dest, ignore_errors=True)
            samples.append(resident_report(argv))
        shutil.rmtree(dest, ignore_errors=True)
        before, peak = (statistics.median(s[i] for s in samples) for i in (0, 1))
        return before, peak, peak - before

    rows = []
    for option in ("none", "gz", "zip"):
        before, peak, growth = medians([dz, "--compress", option, large, dest])
        rows.append(("1 worker, large file, %s" % option, before, peak, growth, growth, MEMORY_TARGET_KIB))
    for option in ("none", "gz", "zip"):
        pairs = []
        for i in range(workers):
            pairs += [mixed, os.path.join(dest, "w%02d" % i)]
        before, peak, growth = medians([dz, "--compress", option] + pairs)
        rows.append(("%d workers, mixed tree, %s" % (workers, option), before, peak, growth, peak,
                     WORKERS_TARGET_KIB))
    return rows


def rsync_peers():
    """Which rsync peers can run: plain, and with --fsync (3.2.4 on)."""
    if shutil.which("rsync") is None:
        print("rsync is not installed: the comparisons with it are left out (tools/install-deps.sh installs it)",
              flush=True)
        return {"plain": False, "fsync": False}
    usage = subprocess.run(["rsync", "--help"], capture_output=True, text=True).stdout
    fsync = "--fsync" in usage
    if not fsync:
        print("this rsync has no --fsync (3.2.4 or later has): the comparison with it is left out", flush=True)
    return {"plain": True, "fsync": fsync}


@contextlib.contextmanager
def ext4_loop(parent, gib):
    """A new journalled ext4 of gib GiB (a sparse image below parent on a loop
    device with direct I/O), mounted; yields the mount point. Undone on every
    way out."""
    if os.geteuid() != 0:
        sys.exit("--ext4-loop needs root (mount, losetup): run the bench with sudo")
    for tool in ("mkfs.ext4", "losetup", "mount", "umount"):
        if shutil.which(tool) is None:
            sys.exit("%s is not installed (packages e2fsprogs, util-linux, mount)" % tool)
    os.makedirs(parent, exist_ok=True)
    image = os.path.join(parent, "ext4-loop.img")
    mount_point = os.path.join(parent, "ext4-loop")
    with open(image, "wb") as f:
        f.truncate(gib << 30)
    device = None
    mounted = False
    try:
        subprocess.run(["mkfs.ext4", "-q", "-F", "-j", image], check=True)
        device = subprocess.run(["losetup", "--find", "--show", "--direct-io=on", image], check=True,
                                capture_output=True, text=True).stdout.strip()
        os.makedirs(mount_point, exist_ok=True)
        subprocess.run(["mount", "-t", "ext4", device, mount_point], check=True)
        mounted = True
        print("running on a journalled ext4 of %d GiB: %s on %s" % (gib, device, mount_point), flush=True)
        yield mount_point
    finally:
        if mounted:
            if subprocess.run(["umount", mount_point]).returncode != 0:
                subprocess.run(["umount", "-l", mount_point])
        if device:
            subprocess.run(["losetup", "-d", device])
        os.remove(image)
        with contextlib.suppress(OSError):
            os.rmdir(mount_point)


def load_text():
    return "load %.2f %.2f %.2f" % os.getloadavg()


def run_bench(args, dz, kinds, work):
    """Everything below work; (missed a target)."""
    rsync = rsync_peers() if "plain" in kinds else {"plain": False, "fsync": False}
    os.makedirs(work, exist_ok=True)
    small = prepare_small_tree(work, args.files, args.file_kib)
    large = prepare_large_tree(work, args.large_mib)
    trash = os.path.join(work, "trash")
    shutil.rmtree(trash, ignore_errors=True)
    verify(dz, small, work, trash)

    cases = (comparisons(dz, small, "%d files of %d KiB" % (args.files, args.file_kib), work, kinds, rsync, trash)
             + comparisons(dz, large, "one file of %d MiB" % args.large_mib, work, kinds, rsync, None,
                           LARGE_COMPRESSED_TARGET))
    missed = False
    print("\nmedians of %d runs, wall/cpu s; ratio = peer's time / dz-backup-run's (cpu ratio beside)" % args.runs)
    for case in cases:
        before = load_text()
        case.run(args.runs)
        if case.trash is not None:
            discard(case.dest, case.trash)
        print("\n%s (%s before, %s after)" % (case.label, before, load_text()))
        for c in case.contestants:
            print("  %-20s %8.3f/%7.3f s" % (c.name.strip(), c.median(0), c.median(1)))
        for dz_c, peer, target in case.checks:
            ratio = peer.median(0) / dz_c.median(0)
            verdict = ""
            if target is not None:
                ok = ratio >= target
                missed |= not ok
                verdict = "target >= %.2fx %s" % (target, "ok" if ok else "MISSED")
            print("  %-42s %6.2fx (cpu %5.2fx)  %s" % (
                "%s vs %s" % ("with flushes" if dz_c is case.contestants[0] else "without flushes", peer.name),
                ratio, peer.median(1) / dz_c.median(1), verdict), flush=True)
    shutil.rmtree(os.path.join(work, "out"), ignore_errors=True)
    shutil.rmtree(trash, ignore_errors=True)

    if not args.no_memory:
        mixed = prepare_mixed_tree(work)
        print("\nmemory (medians of 3 runs, KiB): resident when the workers start, peak while they run")
        print("%-36s %9s %9s %9s" % ("", "start", "peak", "more"))
        for what, before, peak, growth, measured, target in memory(dz, large, mixed, work, args.workers):
            ok = measured < target
            missed |= not ok
            print("%-36s %9d %9d %9d  %s < %d %s" % (what, before, peak, growth,
                                                      "more" if measured == growth else "peak", target,
                                                      "ok" if ok else "MISSED"))
    return missed


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--dz-backup-run", required=True, help="the dz-backup-run executable (a release build)")
    parser.add_argument("--work", default=os.path.join(os.environ.get("TMPDIR", "/tmp"), "dz-backup-bench"),
                        help="folder for the generated data and the outputs (the data is kept for the next run)")
    parser.add_argument("--ext4-loop", action="store_true",
                        help="run on a new journalled ext4 on a loop device below --work (root only)")
    parser.add_argument("--ext4-gib", type=int, default=8, help="size of that file system (a sparse image)")
    parser.add_argument("--large-mib", type=int, default=1024, help="size of the large file")
    parser.add_argument("--files", type=int, default=10000)
    parser.add_argument("--file-kib", type=int, default=4)
    parser.add_argument("--runs", type=int, default=3, help="runs of every contestant")
    parser.add_argument("--only", help="the comparisons to run, of %s (all by default)" % ",".join(KINDS))
    parser.add_argument("--no-memory", action="store_true", help="leave out the peak memory")
    parser.add_argument("--workers", type=int, default=25, help="workers at once for the memory of many")
    parser.add_argument("--check", action="store_true", help="exit with 1 when a target is missed")
    args = parser.parse_args()

    dz = os.path.abspath(args.dz_backup_run)
    kinds = set(args.only.split(",")) if args.only else set(KINDS)
    if not kinds <= set(KINDS):
        sys.exit("--only takes %s" % ",".join(KINDS))
    for tool in ("cp", "gzip", "zip", "sh", "/usr/bin/time"):
        if shutil.which(tool) is None:
            sys.exit("%s is not installed (tools/install-deps.sh installs the peers; /usr/bin/time is the "
                     "Debian package time)" % tool)

    work = os.path.abspath(args.work)
    print("%d processors, %s" % (os.cpu_count(), load_text()), flush=True)
    if args.ext4_loop:
        with ext4_loop(work, args.ext4_gib) as mount_point:
            missed = run_bench(args, dz, kinds, mount_point)
    else:
        missed = run_bench(args, dz, kinds, work)
    return args, missed


if __name__ == "__main__":
    arguments, missed = main()
    if arguments.check and missed:
        sys.exit(1)
