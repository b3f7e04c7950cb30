#!/usr/bin/env bash
# End-to-end checks of the kit tool, run as a vendor would run it.
set -euo pipefail
vkt=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export TMPDIR=$work/tmp
mkdir -p "$TMPDIR"

fails=0
check() {  # description, then a command that must succeed
  local what=$1; shift
  if "$@"; then echo "ok   $what"; else echo "FAIL $what"; fails=$((fails + 1)); fi
}
expect_exit() {  # status, output pattern, command...
  local status=$1 pattern=$2; shift 2
  local out rc=0
  out=$("$@" 2>&1) || rc=$?
  if [[ $rc -ne $status ]] || ! grep -qF -- "$pattern" <<<"$out"; then
    echo "FAIL exit $rc (wanted $status) of: $*"; echo "$out" | head -5; fails=$((fails + 1))
  else
    echo "ok   exit $status: $pattern"
  fi
}

tree=$work/tree
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
check "list shows size, time and name" grep -qE '^ +13  2021-03-04T05:06:07Z  1\\tmplt\.cf$' <<<"$list"
check "list shows an old time" grep -qE '^ +300000  1999-12-31T23:59:59Z  2\\data\.bin$' <<<"$list"
names=$(grep -E '^ +[0-9]+  ' <<<"$list" | awk '{print $3}' | tr '\n' ' ')
check "entries sorted by name" test "$names" = '1\sub\empty.txt 1\tmplt.cf 2\data.bin 2\имя.txt '

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

# Usage.
expect_exit 2 "pack needs -o FILE" "$vkt" pack "$tree"
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
check "no partial kit left by signing" test -z "$(ls -A "$work" | grep 'partial')"

check "no temporary file left after failures" test -z "$(ls -A "$TMPDIR")"

[[ $fails -eq 0 ]] || { echo "$fails check(s) failed"; exit 1; }
