#!/usr/bin/env bash
# Installs what is missing, builds the release preset and starts the
# watchdog: with its window where a display answers, else on the console.
#
#   bash tools/run.sh                  a small example in a new temporary folder
#   DZ_EXAMPLE_DIR=DIR bash tools/run.sh
#                                      the example in DIR, kept from run to run
#   bash tools/run.sh -- OPTIONS       dezedodiru with your options instead,
#                                      e.g. -- /console  (your own settings)
#   DZ_CONSOLE=1 bash tools/run.sh     the example on the console even where
#                                      a display answers
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
cmake --preset release
cmake --build --preset release --target dezedodiru ZentApp
exe=$PWD/build/release/bin/dezedodiru

if [ $# -gt 0 ]; then
  [ "$1" = "--" ] && shift
  exec "$exe" "$@"
fi

dir=${DZ_EXAMPLE_DIR:-$(mktemp -d -t dezedodiru-example.XXXXXX)}
add=()
# The task is added once; after that the settings file holds the entry.
if [ ! -f "$dir/example.buj" ]; then
  DZ_ZENTAPP=$PWD/build/release/bin/ZentApp bash tools/example-setup.sh "$dir"
  add=("/add:$dir/example.buj")
fi
dir=$(cd "$dir" && pwd)

cat <<EOF

Change, add or rename a file in
    $dir/source
Within 10 seconds its copy appears below
    $dir/backup$dir/source
(the destination keeps the source's whole path). Settings and the daily log
file are in $dir/settings.
In the window: "Start monitoring" first; "Start immediate backup" for a
backup at once, the quit button to end. On the console: type b and Enter for a backup at once, s
for the status, q to quit.

EOF
console=()
[ -n "${DZ_CONSOLE:-}" ] && console=(/console)
exec "$exe" "${console[@]}" "/ini:$dir/settings/" "${add[@]}"
