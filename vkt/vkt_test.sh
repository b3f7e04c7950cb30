#!/usr/bin/env bash
# End-to-end checks of the kit tool, run as a vendor would run it.
set -euo pipefail
vkt=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export TMPDIR=$work/tmp
mkdir -p "$TMPDIR"

source "$(dirname "${BASH_SOURCE[0]}")/../testing/check.sh"
expect_exit() {  # status, output pattern, command...
  local status=$1 pattern=$2; shift 2
  local out rc=0
  out=$("$@" 2>&1) || rc=$?
  if [[ $rc -ne $status ]] || ! grep -qF -- "$pattern" <<<"$out"; then
    bad "exit $rc (wanted $status) of: $*"; echo "$out" | head -5
  else
    ok "exit $status: $pattern"
  fi
}

tree=$work/tree
# A description in each of the installer's sixteen languages.
all16=$(for l in ru uk en lv lt bg de ro ka kk vi tr el es hy it; do printf -- '-d %s:P:V: ' $l; done)
mkdir -p "$tree/1/sub" "$tree/2" "$tree/empty-dir"
printf 'template one\n' > "$tree/1/tmplt.cf"
printf '' > "$tree/1/sub/empty.txt"
head -c 300000 /dev/urandom > "$tree/2/data.bin"
printf 'Шаблон' > "$tree/2/имя.txt"
touch -d '2021-03-04 05:06:07.891 UTC' "$tree/1/tmplt.cf"
touch -d '1999-12-31 23:59:59 UTC' "$tree/2/data.bin"

expect_exit 0 "4 files" "$vkt" pack -d en:Trade:Acme:doc/readme.html -d ru:Торговля:Акме: -o "$work/a.vkt" "$tree"
"$vkt" pack -d en:Trade:Acme:doc/readme.html -d ru:Торговля:Акме: -o "$work/b.vkt" "$tree" >/dev/null
check "same tree, same bytes" cmp -s "$work/a.vkt" "$work/b.vkt"
expect_exit 0 "sound, 4 entries" "$vkt" verify "$work/a.vkt"

list=$("$vkt" list "$work/a.vkt")
check "list shows the descriptions" grep -qF 'description ru: product "Торговля", provider "Акме"' <<<"$list"
check "list shows size, time and name" grep -qE '^ +13 B  2021-03-04 05:06:07  1/tmplt\.cf$' <<<"$list"
check "list shows an old time" grep -qE '^ +293\.0 KiB  1999-12-31 23:59:59  2/data\.bin$' <<<"$list"
check "list ends with the totals" test "$(tail -1 <<<"$list")" = "4 files, 293.0 KiB (300025 bytes)"
names=$(grep -E '^ +[0-9.]+ [KMG]?i?B  ' <<<"$list" | awk '{print $5}' | tr '\n' ' ')
check "entries sorted by name" test "$names" = '1/sub/empty.txt 1/tmplt.cf 2/data.bin 2/имя.txt '
json=$("$vkt" list --json "$work/a.vkt")
check "list --json holds the same, sizes in bytes" python3 -c '
import json, sys
k = json.loads(sys.argv[1])
names = [e["name"] for e in k["entries"]]
assert k["verified"] and k["files"] == 4 and k["bytes"] == 300025, k
assert names == ["1/sub/empty.txt", "1/tmplt.cf", "2/data.bin", "2/имя.txt"], names
assert k["entries"][1]["time"] == "2021-03-04T05:06:07Z" and k["entries"][2]["size"] == 300000
assert k["descriptions"][0] == {"language": "en", "product": "Trade", "provider": "Acme",
                                "document": "doc/readme.html"}, k["descriptions"]
' "$json"

expect_exit 0 "4 entries written" "$vkt" unpack "$work/a.vkt" "$work/out"
check "unpacked tree equals the source" diff -r "$tree/1" "$work/out/1"
check "unpacked data equals the source" cmp -s "$tree/2/data.bin" "$work/out/2/data.bin"
check "times kept" test "$(stat -c %Y "$work/out/1/tmplt.cf")" = "$(stat -c %Y "$tree/1/tmplt.cf")"
check "no temporary file left" test -z "$(ls -A "$TMPDIR")"

# The form without a language table.
expect_exit 0 "4 files" "$vkt" pack -d :Solo:Vendor:read.txt -o "$work/solo.vkt" "$tree"
check "single description is en" grep -qF 'description en: product "Solo", provider "Vendor", document "read.txt"' <<<"$("$vkt" list "$work/solo.vkt")"
expect_exit 0 "sound" "$vkt" verify "$work/solo.vkt"

# What the format cannot hold, and links.
ln -s 1/tmplt.cf "$tree/link"
expect_exit 1 "is a symbolic link" "$vkt" pack -o "$work/c.vkt" "$tree"
expect_exit 0 "5 files" "$vkt" pack --follow-links -o "$work/c.vkt" "$tree"
rm "$tree/link"
mkdir -p "$work/bad" && printf x > "$work/bad/back\\slash"
expect_exit 1 "holds a backslash" "$vkt" pack -o "$work/d.vkt" "$work/bad"
expect_exit 1 'has a ".." component' "$vkt" pack -d 'en:P:V:../x' -o "$work/d.vkt" "$tree"
check "no partial kit left" test -z "$(ls -A "$work" | grep "^d\.vkt")"

# Usage: one line, and where to read more.
expect_exit 2 "Try 'vkt pack --help'." "$vkt" pack "$tree"
check "a usage error is two lines, not the whole usage" test "$("$vkt" pack "$tree" 2>&1 | wc -l)" = 2
expect_exit 2 "pack needs -o FILE" "$vkt" pack "$tree"
expect_exit 2 "--level takes a number from 0 to 9" "$vkt" pack --level 10 -o "$work/x.vkt" "$tree"
expect_exit 2 "unknown command" "$vkt" frobnicate
expect_exit 2 "no command given" "$vkt"
expect_exit 0 "usage: vkt pack" "$vkt" pack --help
expect_exit 0 "commands:" "$vkt" --help

# Damaged kits: the first problem is named.
head -c 100 "$work/a.vkt" > "$work/cut.vkt"
expect_exit 1 "$work/cut.vkt: " "$vkt" verify "$work/cut.vkt"
"$vkt" pack --no-trailer -d en:Trade:Acme:doc/readme.html -o "$work/bare.vkt" "$tree" >/dev/null
{ cat "$work/bare.vkt"; printf 'trailing'; } > "$work/tail.vkt"
expect_exit 1 "cut short or followed by other bytes" "$vkt" verify "$work/tail.vkt"
expect_exit 0 "4 entries written" "$vkt" unpack "$work/tail.vkt" "$work/out2"
printf 'plain text, not a kit' > "$work/text.vkt"
expect_exit 1 "not a valid compressed stream" "$vkt" verify "$work/text.vkt"
# An installer carrying a kit, cut short on its way: said as such.
"$vkt" bundle --installer /bin/true -o "$work/setup" "$work/a.vkt" >/dev/null
head -c $(($(stat -c %s "$work/setup") - 30)) "$work/setup" > "$work/setup-cut"
# Without an installer beside it, vkt says which option names one.
mkdir -p "$work/alone" && cp "$vkt" "$work/alone/vkt"
expect_exit 1 "no installer beside vkt: name one with --installer PATH" \
  "$work/alone/vkt" bundle -o "$work/alone/setup" "$work/a.vkt"
expect_exit 1 "no kit ends there: the file is cut short or damaged" "$vkt" verify "$work/setup-cut"
expect_exit 1 "none.vkt: No such file or directory" "$vkt" list "$work/none.vkt"

# Verified kits: the trailer, damage, keys and signatures.
expect_exit 0 "verified: digest matches, not signed" "$vkt" verify "$work/a.vkt"
expect_exit 1 "no trailer: the kit cannot be checked" "$vkt" verify "$work/bare.vkt"
check "list says a bare kit is not verified" grep -qF "not verified: no trailer" <<<"$("$vkt" list "$work/bare.vkt")"
size=$(stat -c %s "$work/a.vkt")
cp "$work/a.vkt" "$work/flip.vkt"
byte=$(od -An -tu1 -j $((size / 2)) -N1 "$work/flip.vkt" | tr -d ' ')
printf "$(printf '\\%03o' $((byte ^ 16)))" | dd of="$work/flip.vkt" bs=1 seek=$((size / 2)) conv=notrunc status=none
expect_exit 1 "$work/flip.vkt: " "$vkt" verify "$work/flip.vkt"
expect_exit 1 "$work/flip.vkt: " "$vkt" list "$work/flip.vkt"

expect_exit 0 "public key" "$vkt" keygen -o "$work/key"
check "the secret key is the owner's alone" test "$(stat -c %a "$work/key")" = 600
expect_exit 1 "File exists" "$vkt" keygen -o "$work/key"
"$vkt" keygen -o "$work/other" >/dev/null
expect_exit 0 "signed by key" "$vkt" sign --key "$work/key" "$work/a.vkt"
expect_exit 0 "signed by key" "$vkt" sign --key "$work/key" "$work/a.vkt"
check "signing twice keeps one signature" test "$("$vkt" list "$work/a.vkt" | head -1 | grep -oE '[0-9a-f]{16}' | wc -l)" = 1
expect_exit 0 "sound, 4 entries" "$vkt" verify --key "$work/key.pub" "$work/a.vkt"
expect_exit 0 "sound" "$vkt" verify --key "$work/other.pub" --key "$work/key.pub" "$work/a.vkt"
expect_exit 1 "no signature by key" "$vkt" verify --key "$work/other.pub" "$work/a.vkt"
expect_exit 1 "is not a public key" "$vkt" verify --key "$work/key" "$work/a.vkt"
expect_exit 1 "no trailer" "$vkt" sign --key "$work/key" "$work/bare.vkt"
expect_exit 0 "4 entries written" "$vkt" unpack "$work/a.vkt" "$work/out3"
check "a signed kit unpacks to the source" cmp -s "$tree/2/data.bin" "$work/out3/2/data.bin"
check "no partial kit left by signing" test -z "$(ls -A "$work" | grep -F '.vkt.qorv-')"

# Warnings an author needs; --strict refuses them.
cases=(
  "|the kit has no description"
  "-d en:P:V:doc/readme.html|the description document doc/readme.html is not in the kit"
  "-d en:P:V: -d EN:Q:W:|the language en is given twice"
  "-d xx:P:V:|the installer has no texts in the language \"xx\""
)
for c in "${cases[@]}"; do
  IFS='|' read -r opts warning <<<"$c"
  # shellcheck disable=SC2086
  expect_exit 0 "vkt: warning: $warning" "$vkt" pack $opts -o "$work/w.vkt" "$tree"
  # shellcheck disable=SC2086
  expect_exit 1 "not packed: --strict and warnings" "$vkt" pack --strict $opts -o "$work/s.vkt" "$tree"
done
check "--strict wrote nothing" test ! -e "$work/s.vkt"
# shellcheck disable=SC2086
out=$("$vkt" pack ${all16/-d en:P:V: /} -d en:Trade:Acme:1/tmplt.cf -o "$work/quiet.vkt" "$tree" 2>&1)
check "a sound pack warns of nothing" test -z "$(grep warning <<<"$out")"

# Reproducible: the same tree touched at other times packs to the same
# bytes once times are clamped; --mtime wins over SOURCE_DATE_EPOCH.
cp -a "$tree" "$work/copy" && touch -d '2030-01-01' "$work/copy/1/sub/empty.txt" "$work/copy/2/имя.txt"
touch -d '2031-06-01' "$tree/2/имя.txt"
SOURCE_DATE_EPOCH=1700000000 "$vkt" pack -o "$work/r1.vkt" "$tree" >/dev/null 2>&1
SOURCE_DATE_EPOCH=1700000000 "$vkt" pack -o "$work/r2.vkt" "$work/copy" >/dev/null 2>&1
check "SOURCE_DATE_EPOCH: two packs of the tree at other times, the same bytes" cmp -s "$work/r1.vkt" "$work/r2.vkt"
SOURCE_DATE_EPOCH=1 "$vkt" pack --mtime 1700000000 -o "$work/r3.vkt" "$work/copy" >/dev/null 2>&1
check "--mtime clamps as SOURCE_DATE_EPOCH does" cmp -s "$work/r1.vkt" "$work/r3.vkt"
check "an older time stays" grep -qF "1999-12-31 23:59:59  2/data.bin" <<<"$("$vkt" list "$work/r1.vkt")"
check "a later time is clamped" grep -qF "2023-11-14 22:13:20  2/имя.txt" <<<"$("$vkt" list "$work/r1.vkt")"
expect_exit 2 "SOURCE_DATE_EPOCH=soon" env SOURCE_DATE_EPOCH=soon "$vkt" pack -o "$work/x.vkt" "$tree"

# '-': standard output for pack, standard input for list and verify; levels.
mkdir -p "$work/text" && for i in $(seq 2000); do echo "line $i of a template"; done > "$work/text/t.txt"
"$vkt" pack --level 0 -o - "$work/text" 2>/dev/null > "$work/stored.vkt"
"$vkt" pack --level 9 -o "$work/text9.vkt" "$work/text" >/dev/null 2>&1
check "pack -o - writes the kit to standard output" bash -c "'$vkt' verify '$work/stored.vkt' >/dev/null"
check "level 0 stores, level 9 compresses" test "$(stat -c %s "$work/stored.vkt")" -gt $((4 * $(stat -c %s "$work/text9.vkt")))
"$vkt" pack --level 9 -o "$work/nine.vkt" "$tree" >/dev/null 2>&1
expect_exit 0 "4 files, 293.0 KiB" bash -c "'$vkt' list - < '$work/nine.vkt'"
expect_exit 0 "-: sound, 4 entries" bash -c "'$vkt' verify - < '$work/nine.vkt'"
expect_exit 1 "-: " bash -c "head -c 1000 '$work/nine.vkt' | '$vkt' verify -"

# The kit written into the tree it packs (by -o, or standard output sent
# there) is left out of itself, with a warning.
cp "$work/nine.vkt" "$work/text/kit.vkt"
expect_exit 0 "kit.vkt is the kit being written" "$vkt" pack -o "$work/text/kit.vkt" "$work/text"
expect_exit 0 "1 file," "$vkt" list "$work/text/kit.vkt"
expect_exit 0 "out.vkt is the kit being written" bash -c "'$vkt' pack -o - '$work/text' > '$work/text/out.vkt'"
expect_exit 0 "2 files," "$vkt" list "$work/text/out.vkt"
rm "$work/text/kit.vkt" "$work/text/out.vkt"

# A pack that takes more than a moment shows its progress on a terminal,
# and only there.
mkdir -p "$work/bigtree" && head -c 150000000 /dev/urandom > "$work/bigtree/big.bin"
out=$(script -qec "'$vkt' pack --level 9 -d en:P:V: -o '$work/big.vkt' '$work/bigtree'" /dev/null)
check "a long pack shows its progress on a terminal" grep -qE $'\rpacking +[0-9]+% \\([0-9.]+ MiB of 143\\.1 MiB\\)' <<<"$out"
out=$("$vkt" pack --quiet --level 9 -d en:P:V: -o "$work/big.vkt" "$work/bigtree" 2>&1)
check "and none without one" test "$out" = "$work/big.vkt: 1 file, 150000000 bytes"
rm -rf "$work/bigtree" "$work/big.vkt"

# diff: every kind of change, and its exit status.
mkdir -p "$work/v1" "$work/v2"
printf same > "$work/v1/same"; printf same > "$work/v2/same"
printf gone > "$work/v1/gone"; printf new > "$work/v2/new"
printf old > "$work/v1/up"; printf newer > "$work/v2/up"
printf was > "$work/v1/down"; printf now > "$work/v2/down"
printf aaa > "$work/v1/edit"; printf bbb > "$work/v2/edit"
touch -d '2020-01-01' "$work/v1/same" "$work/v2/same" "$work/v1/up" "$work/v2/down" "$work/v1/edit" "$work/v2/edit"
touch -d '2022-01-01' "$work/v2/up" "$work/v1/down"
"$vkt" pack -d en:P:V: -o "$work/k1.vkt" "$work/v1" >/dev/null
"$vkt" pack -d en:P:W: -d de:P:V: -o "$work/k2.vkt" "$work/v2" >/dev/null 2>&1
diff_out=$("$vkt" diff "$work/k1.vkt" "$work/k2.vkt") || true
expected='older    down  (2022-01-01 00:00:00 -> 2020-01-01 00:00:00)
changed  edit  (same time: delivered only with entry digests)
removed  gone
added    new  3 B
newer    up  (2020-01-01 00:00:00 -> 2022-01-01 00:00:00)
description en: product "P", provider "V", document "" -> product "P", provider "W", document ""
description de added: product "P", provider "V", document ""'
check "diff names each change" test "$diff_out" = "$expected"
expect_exit 1 "changed  edit" "$vkt" diff "$work/k1.vkt" "$work/k2.vkt"
expect_exit 0 "" "$vkt" diff "$work/k1.vkt" "$work/k1.vkt"
check "diff of a kit with itself prints nothing" test -z "$("$vkt" diff "$work/k1.vkt" "$work/k1.vkt")"
expect_exit 2 "none.vkt" "$vkt" diff "$work/k1.vkt" "$work/none.vkt"

# unpack never overwrites unless asked.
printf mine > "$work/out/1/tmplt.cf"
expect_exit 1 "exists already; nothing written (--force overwrites)" "$vkt" unpack "$work/a.vkt" "$work/out"
check "the file is left as it was" test "$(cat "$work/out/1/tmplt.cf")" = mine
expect_exit 0 "4 entries written" "$vkt" unpack --force "$work/a.vkt" "$work/out"
check "--force overwrites" cmp -s "$tree/1/tmplt.cf" "$work/out/1/tmplt.cf"

# Options go anywhere among the operands, as with every GNU tool: each
# spelling below signs, verifies or unpacks the same kit.
cp "$work/a.vkt" "$work/order.vkt"
while IFS='|' read -r status pattern args; do
  eval "set -- $args"
  expect_exit "$status" "$pattern" "$vkt" "$@"
done <<EOF2
0|signed by key|sign "$work/order.vkt" --key "$work/other"
0|signed by key|sign --key="$work/other" "$work/order.vkt"
0|sound|verify "$work/order.vkt" --key "$work/other.pub"
0|sound|verify --key="$work/key.pub" -- "$work/order.vkt"
0|4 entries written|unpack "$work/order.vkt" "$work/out4" --force
0|4 files|pack "$tree" -o"$work/order2.vkt" --level=1
2|unknown option --bogus|verify --bogus "$work/order.vkt"
2|--key needs a value|verify "$work/order.vkt" --key
2|verify takes one kit file|verify -- --key "$work/order.vkt"
EOF2

# pack: what a kit author should hear before shipping, and what is refused.
# Each row: status, what stderr/stdout says (or !TEXT: what it must not say),
# then the arguments.
stray=$work/stray
mkdir -p "$stray/.git/objects" "$stray/tpl" "$work/empty"
printf x > "$stray/.git/HEAD"; printf y > "$stray/.git/objects/ab"
printf t > "$stray/tpl/a.cf"; printf b > "$stray/tpl/a.cf~"; printf s > "$stray/tpl/.a.cf.swp"
printf d > "$stray/.DS_Store"
printf '.DS_Store\n*~\n\n' > "$work/patterns"
printf '# release 2\n[de]\nproduct = Vorlagen\nprovider = Acme: GmbH\n\n[en]\nproduct=Templates\nprovider = Acme: Ltd\ndocument = tpl/a.cf\n' > "$work/d1.ini"
printf '[en]\ndocument = tpl\\a.cf\nprovider = Acme: Ltd\nproduct=Templates\n[de]\nprovider = Acme: GmbH\nproduct = Vorlagen\n' > "$work/d2.ini"
bad_ini() { printf "$2" > "$work/$1.ini"; echo "$work/$1.ini"; }
while IFS='|' read -r status pattern args; do
  eval "set -- $args"
  if [[ $pattern == !* ]]; then
    out=$("$vkt" "$@" 2>&1) && rc=0 || rc=$?
    check "exit $status and no \"${pattern:1}\" from: vkt $*" \
      test "$rc" = "$status" -a "${out/${pattern:1}/}" = "$out"
  else
    expect_exit "$status" "$pattern" "$vkt" "$@"
  fi
done <<EOF2
0|2 version control files are packed (.git/HEAD, ...): --exclude-vcs leaves them out|pack -d en:P:V: -o "$work/s.vkt" "$stray"
0|2 editor backup files are packed|pack -d en:P:V: -o "$work/s.vkt" "$stray"
0|1 .DS_Store file is packed (.DS_Store)|pack -d en:P:V: -o "$work/s.vkt" "$stray"
0|!version control|pack --exclude-vcs -d en:P:V: -o "$work/s.vkt" "$stray"
0|!.DS_Store|pack --exclude-from "$work/patterns" -d en:P:V: -o "$work/s.vkt" "$stray"
0|!editor backup|pack --exclude='*~' --exclude='.*.swp' -d en:P:V: -o "$work/s.vkt" "$stray"
0|1 file, 1 bytes|pack --exclude-vcs --exclude-from="$work/patterns" --exclude=.*.swp -d en:P:V: -o "$work/s.vkt" "$stray"
0|1 file, 1 bytes|pack --exclude=tpl/a.cf~ --exclude=.git --exclude .DS_Store --exclude=.*.swp -d en:P:V: -o "$work/s1.vkt" "$stray"
0|no description in 14 languages (ru, uk, lv, lt, bg, ro, ka, kk, vi, tr, el, es, hy, it)|pack -d en:P:V: -d de:P:V: --exclude-vcs -o "$work/s.vkt" "$stray"
0|no description in 15 languages|pack -d :P:V: --exclude-vcs -o "$work/s.vkt" "$stray"
0|!no description in|pack $all16 --exclude-vcs -o "$work/s.vkt" "$stray"
0|!warning|pack --quiet --exclude-vcs -o "$work/s.vkt" "$stray"
1|not packed: --strict and warnings|pack --strict -d en:P:V: -o "$work/s.vkt" "$stray"
1|no files to pack: not packed (--allow-empty packs a kit of no files)|pack -d en:P:V: -o "$work/e.vkt" "$work/empty"
1|no files to pack|pack --exclude='*' -d en:P:V: -o "$work/e.vkt" "$stray"
0|0 files, 0 bytes|pack --allow-empty -d en:P:V: -o "$work/e.vkt" "$work/empty"
1|vkt: $work/nodir: No such file or directory|pack -o "$work/n.vkt" "$work/nodir"
1|description path "./doc/readme.html" has a "." component|pack -d "en:T:A:./doc/readme.html" -o "$work/n.vkt" "$stray"
2|Try 'vkt pack --help'.|pack -o "$work/n.vkt"
2|Try 'vkt diff --help'.|diff "$work/s.vkt"
2|give -d or --descriptions, not both|pack -d en:P:V: --descriptions "$work/d1.ini" -o "$work/n.vkt" "$stray"
1|line 3: unknown name "produkt" (product, provider or document)|pack --descriptions "$(bad_ini b1 '[en]\nproduct = a\nprodukt = b\n')" -o "$work/n.vkt" "$stray"
1|line 1: product comes before the first [LANGUAGE]|pack --descriptions "$(bad_ini b2 'product = a\n')" -o "$work/n.vkt" "$stray"
1|line 3: [EN] again; it starts at line 1|pack --descriptions "$(bad_ini b3 '[en]\n[de]\n[EN]\n')" -o "$work/n.vkt" "$stray"
1|line 2: not UTF-8|pack --descriptions "$(bad_ini b4 '[en]\nproduct = \xff\n')" -o "$work/n.vkt" "$stray"
1|line 3: product again in this section; it is given at line 2|pack --descriptions "$(bad_ini b5 '[en]\nproduct = a\nproduct = b\n')" -o "$work/n.vkt" "$stray"
1|line 2: a section is [LANGUAGE], e.g. [en]|pack --descriptions "$(bad_ini b6 '\n[en\n')" -o "$work/n.vkt" "$stray"
1|line 1: expected NAME = VALUE or [LANGUAGE]|pack --descriptions "$(bad_ini b7 'product a\n')" -o "$work/n.vkt" "$stray"
1|no [LANGUAGE] section|pack --descriptions "$(bad_ini b8 '# nothing\n')" -o "$work/n.vkt" "$stray"
0|1 entry written|unpack "$work/s1.vkt" "$work/s-out"
0|sound, 1 entry,|verify "$work/s1.vkt"
EOF2
# The order the author lists descriptions in does not change the kit.
"$vkt" pack --quiet --exclude-vcs --descriptions "$work/d1.ini" -o "$work/d1.vkt" "$stray" >/dev/null
"$vkt" pack --quiet --exclude-vcs --descriptions "$work/d2.ini" -o "$work/d2.vkt" "$stray" >/dev/null
check "descriptions from a file: the same kit in any order" cmp -s "$work/d1.vkt" "$work/d2.vkt"
check "descriptions from a file: ':' kept, sorted by language" \
  test "$("$vkt" list "$work/d1.vkt" | sed -n 2,3p)" = 'description de: product "Vorlagen", provider "Acme: GmbH", document ""
description en: product "Templates", provider "Acme: Ltd", document "tpl/a.cf"'
expect_exit 0 "'vkt --version'" "$vkt" --help

check "no temporary file left after failures" test -z "$(ls -A "$TMPDIR")"

check_summary
