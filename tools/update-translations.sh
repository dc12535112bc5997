#!/usr/bin/env bash
# Message catalogs: regenerates locale/dezedodiru.pot from the sources and
# merges it into every locale/*.po, whose new entries then wait for their
# translation. With --check nothing is written: the exit status is 1 when a
# text of the sources has no translation (missing, empty or fuzzy) in one of
# the catalogs, or a catalog does not compile.
#
# The texts are those in Tr("...") and TrMark("...") (texts kept in tables),
# and the formats handed to RaiseCopyError and CreateResFmt, which
# translate them.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

for tool in xgettext msgmerge msgattrib msgfmt; do
  if ! command -v "$tool" >/dev/null; then
    echo "update-translations: $tool is missing (Debian package gettext)" >&2
    exit 2
  fi
done

# Every source file below src/, in a fixed order, so that the template only
# changes when a text does.
mapfile -t sources < <(find src -type f \( -name '*.cpp' -o -name '*.h' \) | LC_ALL=C sort)

make_template() {
  xgettext --from-code=UTF-8 --language=C++ \
    --keyword= --keyword=Tr:1 --keyword=TrMark:1 --keyword=RaiseCopyError:1 --keyword=CreateResFmt:1 \
    --package-name=DeZedodiru --msgid-bugs-address= --add-location=file --sort-by-file --no-wrap \
    --omit-header \
    -o "$1" "${sources[@]}"
  # --omit-header drops the charset line that non-ASCII texts need.
  local body
  body=$(cat "$1")
  printf '%s\n' 'msgid ""' 'msgstr ""' '"Content-Type: text/plain; charset=UTF-8\n"' '"Content-Transfer-Encoding: 8bit\n"' '' >"$1"
  printf '%s\n' "$body" >>"$1"
}

if [ "${1:-}" = "--check" ]; then
  tmp=$(mktemp -d)
  trap 'rm -rf "$tmp"' EXIT
  make_template "$tmp/fresh.pot"
  status=0
  for po in locale/*.po; do
    msgmerge --quiet --no-fuzzy-matching --no-wrap "$po" "$tmp/fresh.pot" -o "$tmp/merged.po"
    # What the merge leaves untranslated or fuzzy has no usable translation.
    { msgattrib --untranslated --no-obsolete --no-wrap "$tmp/merged.po"
      msgattrib --only-fuzzy --no-obsolete --no-wrap "$tmp/merged.po"; } | grep -E '^(#: |msgid )' |
      grep -v '^msgid ""$' >"$tmp/missing.txt" || true
    if [ -s "$tmp/missing.txt" ]; then
      echo "$po: texts of the sources without a translation (run tools/update-translations.sh and translate them):" >&2
      cat "$tmp/missing.txt" >&2
      status=1
    fi
    if ! msgfmt --check -o /dev/null "$po"; then
      echo "$po: does not compile" >&2
      status=1
    fi
  done
  exit $status
fi

make_template locale/dezedodiru.pot
for po in locale/*.po; do
  [ -e "$po" ] || continue
  msgmerge --quiet --update --backup=none --no-wrap "$po" locale/dezedodiru.pot
done
echo "locale/dezedodiru.pot: $(grep -c '^msgid ' locale/dezedodiru.pot) entries (with the header)"
