#!/usr/bin/env bash
# The catalog check must fail, naming the text, when a source file gains a
# text that the German catalog lacks, and when an entry is left untranslated
# or fuzzy; and pass on the sources as they are. Runs on a copy of the
# sources, so that the work tree is never touched.
set -euo pipefail
root=$1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }
fresh_copy() {
  rm -rf "$tmp/copy"
  mkdir -p "$tmp/copy"
  cp -r "$root/src" "$root/locale" "$root/tools" "$tmp/copy/"
}
check() { bash "$tmp/copy/tools/update-translations.sh" --check 2>"$tmp/out.txt"; }

fresh_copy
check || { cat "$tmp/out.txt" >&2; fail "the unchanged sources do not pass"; }

# A new text in any source file, in a call or as a marked table entry.
for line in 'std::string F() { return dz::Tr("A text no catalog has"); }' \
            'const char* Kept = dz::TrMark("A marked table text");'; do
  fresh_copy
  mkdir -p "$tmp/copy/src/somewhere"
  printf '#include "base/Translate.h"\n%s\n' "$line" >"$tmp/copy/src/somewhere/New.cpp"
  if check; then fail "a new text passes: $line"; fi
  want=$(sed -E 's/.*\("(.*)"\).*/\1/' <<<"$line")
  grep -qF "msgid \"$want\"" "$tmp/out.txt" || { cat "$tmp/out.txt" >&2; fail "the report does not name: $want"; }
done

# An untranslated and a fuzzy entry.
for edit in 's/^msgstr "Überwachung beenden"$/msgstr ""/' '0,/^msgid "Stop monitoring"$/s//#, fuzzy\nmsgid "Stop monitoring"/'; do
  fresh_copy
  sed -i "$edit" "$tmp/copy/locale/de.po"
  cmp -s "$root/locale/de.po" "$tmp/copy/locale/de.po" && fail "the edit did not apply: $edit"
  if check; then fail "an entry without a usable translation passes: $edit"; fi
  grep -qF 'msgid "Stop monitoring"' "$tmp/out.txt" || { cat "$tmp/out.txt" >&2; fail "the report does not name it"; }
done
echo "ok"
