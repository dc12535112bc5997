#!/usr/bin/env bash
# Makes a small example for the console watchdog below DIR:
#
#   DIR/source/          a few files to change
#   DIR/backup/          the destination of the copies
#   DIR/example.buj      a backup task: DIR/source into DIR/backup/, every
#                        file, uncompressed, with the full directory structure
#   DIR/settings/        a settings directory of its own (option "ini"), whose
#                        dezedodiru.ini backs up every 10 seconds and writes
#                        the log to a file
#
# Then: dezedodiru /ini:DIR/settings/ /add:DIR/example.buj
# A settings file that is there already is left as it is. With DZ_ZENTAPP
# naming the built ZentApp, the task is written by it, as a user would
# write one; without, by this script (before anything is built).
set -euo pipefail

if [ $# -ne 1 ]; then
  echo "usage: $0 DIR" >&2
  exit 2
fi
mkdir -p "$1"
dir=$(cd "$1" && pwd)

mkdir -p "$dir/source/notes" "$dir/backup" "$dir/settings"
printf 'Change me, save, and watch the console.\n' > "$dir/source/hello.txt"
printf 'milk\nbread\n' > "$dir/source/notes/shopping.txt"
printf '# Example\n\nA file without much in it.\n' > "$dir/source/README.md"

task_by_zentapp=
if [ -n "${DZ_ZENTAPP:-}" ]; then
  "$DZ_ZENTAPP" --new "$dir/example.buj" --source "$dir/source" --dest "$dir/backup/" \
    --structure full --compress none --replace >/dev/null
  task_by_zentapp=1
fi

# Task and settings files are UTF-16LE with a byte-order mark and CR LF, as
# the main application writes them.
python3 - "$dir" "$task_by_zentapp" <<'EOF'
import os
import sys

root = sys.argv[1]
task_by_zentapp = sys.argv[2] == "1"

def write_ini(path, lines):
    text = "".join(line + "\r\n" for line in lines)
    try:
        data = text.encode("utf-16-le")
    except UnicodeEncodeError:
        sys.exit(f"{root}: the folder's name is not valid UTF-8; choose another folder")
    with open(path, "wb") as f:
        f.write(b"\xff\xfe" + data)

# BackupMode 1 takes the extensions in "Exclude"; an empty list excludes
# nothing, and without "Filter" and "FilterMode" every file name passes.
if not task_by_zentapp:
    write_ini(os.path.join(root, "example.buj"), [
        "[Global]",
        "Destination=" + os.path.join(root, "backup") + "/",
        "DestMode=1",
        "Compress=0",
        "NoCompTypes=",
        "DirCount=1",
        "[Dir000]",
        "Source=" + os.path.join(root, "source"),
        "BackupMode=1",
        "Exclude=",
    ])

settings = os.path.join(root, "settings", "dezedodiru.ini")
if not os.path.exists(settings):
    write_ini(settings, [
        "[Config]",
        "Interval=10",
        "WriteLog=1",
    ])
EOF

echo "Example made in $dir"
