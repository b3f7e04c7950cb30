#!/usr/bin/env bash
# The translation compiler as a translator meets it: a catalog with a
# missing, fuzzy, untranslated, stale or unknown entry is reported line by
# line and nothing is built; a complete one builds, multi-line strings and
# escapes included.
set -uo pipefail
tool=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
source "$(dirname "${BASH_SOURCE[0]}")/../testing/check.sh"

cat > "$work/t.pot" <<'POT'
msgid ""
msgstr ""
"Content-Type: text/plain; charset=UTF-8\n"

msgctxt "IDS_ONE"
msgid "One"
msgstr ""

msgctxt "IDS_TWO"
msgid ""
"Two "
"\"lines\"\n"
msgstr ""

msgctxt "IDS_THREE"
msgid "Three"
msgstr ""
POT
cat > "$work/good.po" <<'PO'
# A translator's comment.
msgid ""
msgstr ""
"Language: xx\n"

msgctxt "IDS_ONE"
msgid "One"
msgstr "Один"

#, c-format
msgctxt "IDS_TWO"
msgid "Two \"lines\"\n"
msgstr "Две "
"\"строки\"\n"

msgctxt "IDS_THREE"
msgid "Three"
msgstr "Три"
PO
cat > "$work/bad.po" <<'PO'
msgctxt "IDS_ONE"
msgid "One"
msgstr ""

#, fuzzy
msgctxt "IDS_TWO"
msgid "Two \"lines\"\n"
msgstr "Две"

msgctxt "IDS_FOUR"
msgid "Four"
msgstr "Четыре"
PO
sed 's/msgid "Three"/msgid "Thre"/' "$work/good.po" > "$work/stale.po"

check "a complete catalog passes the check" "$tool" --check "$work/t.pot" en:3 xx:1:"$work/good.po"
check "and builds" "$tool" "$work/out.cc" "$work/t.pot" en:3 xx:1:"$work/good.po"
check "multi-line strings and escapes come out as written" \
  grep -qF '{"IDS_TWO", "Две \"строки\"\012"}' "$work/out.cc"
check "English comes from the template" grep -qF '{"IDS_TWO", "Two \"lines\"\012"}' "$work/out.cc"

out=$("$tool" "$work/bad.cc" "$work/t.pot" en:3 xx:1:"$work/bad.po" 2>&1); rc=$?
check "a bad catalog fails the build" test "$rc" = 1
check "and builds nothing" test ! -e "$work/bad.cc"
for line in "bad.po:1: IDS_ONE: not translated" "bad.po:6: IDS_TWO: marked fuzzy" \
            "bad.po:10: IDS_FOUR: no such key in" "bad.po:0: IDS_THREE: missing" \
            "4 problem(s) in the translations"; do
  check "reported: $line" grep -qF "$line" <<<"$out"
done
out=$("$tool" --check "$work/t.pot" en:3 xx:1:"$work/stale.po" 2>&1)
check "a stale English text is reported" grep -qF "stale.po:16: IDS_THREE: its English text is not the template's" <<<"$out"

check_summary
