#!/bin/sh
# A burst of new files against the dz-watch tool: every file must come out as
# one "waAdded" line. Prints how many were created, how many were reported,
# any error lines, and the time from the first file to the last report.
#
#   bench/dirwatch/dz-watch-burst.sh BUILD/bin/dz-watch [FILES] [PARENT]
#
# FILES defaults to 100000, PARENT (where the fresh folder goes) to $TMPDIR
# or /tmp. The same burst can be compared by hand with another watcher, e.g.
# inotifywait -m -r -e create,moved_to DIR | wc -l.
set -eu
TOOL=${1:?usage: dz-watch-burst.sh DZ-WATCH [FILES] [PARENT]}
FILES=${2:-100000}
PARENT=${3:-${TMPDIR:-/tmp}}
DIR=$(mktemp -d "$PARENT/dz-watch-burst.XXXXXX")
OUT="$DIR.out"
STOP="$DIR.stop"
trap 'touch "$STOP"; wait; rm -rf "$DIR" "$OUT" "$STOP"' EXIT

mkdir "$DIR/tree"
(until [ -e "$STOP" ]; do sleep 0.05; done) | "$TOOL" "$DIR/tree" > "$OUT" &
# dz-watch has watched the tree once a change in it is reported; a file made
# before it started is not, so the probe is made anew until one is.
until grep -q '^waAdded ready$' "$OUT"; do
  rm -f "$DIR/tree/ready"; touch "$DIR/tree/ready"; sleep 0.05
done

START=$(date +%s%N)
PER_DIR=1000
D=0
while [ $((D * PER_DIR)) -lt "$FILES" ]; do
  mkdir "$DIR/tree/d$D"
  COUNT=$((FILES - D * PER_DIR)); [ "$COUNT" -gt $PER_DIR ] && COUNT=$PER_DIR
  (cd "$DIR/tree/d$D" && seq 1 "$COUNT" | sed 's/^/f/' | xargs touch)
  D=$((D + 1))
done
touch "$DIR/tree/marker"
until grep -q '^waAdded marker$' "$OUT"; do sleep 0.01; done
END=$(date +%s%N)

REPORTED=$(grep '^waAdded d[0-9]*/f' "$OUT" | sort -u | wc -l)
echo "files created:  $FILES"
echo "files reported: $REPORTED"
echo "error lines:    $(grep -c '^error ' "$OUT" || true)"
echo "first file to last report: $(((END - START) / 1000000)) ms"
