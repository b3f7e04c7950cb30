# The checks of the shell tests, sourced by each: every check prints "ok" or
# "FAIL" and its description, failures are counted, and check_summary ends
# the script with status 1 when any failed.
fails=0
ok() { echo "ok   $*"; }
bad() { echo "FAIL $*"; fails=$((fails + 1)); }
check() {  # description, then a command that must succeed
  local what=$1; shift
  if "$@"; then ok "$what"; else bad "$what"; fi
}
check_summary() {  # [what to add to the failure line]
  [[ $fails -eq 0 ]] || { echo "$fails check(s) failed${1:+; $1}"; exit 1; }
}
