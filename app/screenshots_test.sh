#!/usr/bin/env bash
# Screenshots of every page of the wizard in all sixteen languages, saved
# under BUILD_DIR/screenshots for a person to look at (no text may be cut off
# or run outside the window). Run through testing/with_xvfb.sh.
#   app/screenshots_test.sh BUILD_DIR
set -uo pipefail
build=$(cd "$1" && pwd)
src=$(cd "$(dirname "$0")/.." && pwd)
out=$build/screenshots
rm -rf "$out" && mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export TMPDIR=$work/tmp
mkdir -p "$TMPDIR" "$work/kit"
xdotool() { command xdotool "$@" 2>/dev/null; }

bash "$src/demo/make_demo_kit.sh" "$build/bin/vkt" "$work/kit/qorv.vkt" >/dev/null
cp "$build/bin/qorv-setup" "$work/kit/"

window_of() {  # pid geometry -> window id
  for _ in $(seq 1 100); do
    for id in $(xdotool search --onlyvisible --pid "$1"); do
      if xdotool getwindowgeometry "$id" | grep -q "Geometry: $2"; then echo "$id"; return 0; fi
    done
    sleep 0.1
  done
  return 1
}
any_other_window() {
  for _ in $(seq 1 100); do
    for id in $(xdotool search --onlyvisible --pid "$1"); do
      if ! xdotool getwindowgeometry "$id" | grep -q "Geometry: 500x360"; then echo "$id"; return 0; fi
    done
    sleep 0.1
  done
  return 1
}
shot() { /usr/bin/import -window "$1" "$out/$2.png"; }
next() { xdotool mousemove --window "$1" 350 335 click 1; sleep 0.4; }

fails=0
for code in ru uk en lv lt bg de ro ka kk vi tr el es hy it; do
  export HOME=$work/home-$code
  mkdir -p "$HOME/.local/share"
  (cd "$work/kit" && PATH="/nonexistent:$PATH" ./qorv-setup "-L$code") & app=$!
  wid=$(window_of $app 500x360) || { echo "FAIL $code: no window"; fails=$((fails + 1)); kill $app; continue; }
  sleep 0.3; shot "$wid" "$code-1-welcome"
  next "$wid"; shot "$wid" "$code-2-directory"
  next "$wid"; sleep 1.2; shot "$wid" "$code-3-success"
  next "$wid"; wait $app

  # A default directory that cannot be made: the error box and page.
  export HOME=$work/home-$code-error
  mkdir -p "$HOME/.local/share" && printf 'in the way' > "$HOME/.qorv"
  (cd "$work/kit" && ./qorv-setup "-L$code") & app=$!
  wid=$(window_of $app 500x360)
  next "$wid"; next "$wid"
  box=$(any_other_window $app) && shot "$box" "$code-4-error-box"
  # Behind the error box the window still shows the progress page.
  shot "$wid" "$code-4-progress"
  xdotool windowfocus --sync "$box"; xdotool key Return; sleep 0.5
  shot "$wid" "$code-5-error"
  next "$wid"; wait $app
done
count=$(ls "$out" | wc -l)
echo "screenshots: $count in $out"
[[ $fails -eq 0 && $count -eq 96 ]]
