#!/usr/bin/env bash
# Screenshots of every page of the wizard in all sixteen languages, at the
# usual font and at 14 points, saved under BUILD_DIR/screenshots/{usual,14pt}
# for a person to look at (no text may be cut off or run outside the window;
# ui_test checks the same on the widgets). Run through testing/with_xvfb.sh.
#   app/screenshots_test.sh BUILD_DIR
set -uo pipefail
# As root, in a mount namespace of its own with an empty /home: the pictures
# show an ordinary home directory (/home/alex), as a user sees them.
if [[ $(id -u) -eq 0 && -z ${QORV_SHOTS_HOME:-} ]] && command -v unshare >/dev/null; then
  exec unshare -m env QORV_SHOTS_HOME=/home/alex bash "$0" "$@"
fi
if [[ -n ${QORV_SHOTS_HOME:-} ]]; then
  mount --make-rprivate / && mount -t tmpfs tmpfs /home || exit 1
fi
# A fresh home for each run: the one above, or a folder of the work area.
fresh_home() {  # name -> sets HOME
  if [[ -n ${QORV_SHOTS_HOME:-} ]]; then
    rm -rf "$QORV_SHOTS_HOME"
    export HOME=$QORV_SHOTS_HOME
  else
    export HOME=$work/$1
  fi
  mkdir -p "$HOME/.local/share"
}
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

window_of() {  # pid -> the first window it shows (the wizard)
  for _ in $(seq 1 100); do
    for id in $(xdotool search --onlyvisible --pid "$1"); do echo "$id"; return 0; done
    sleep 0.1
  done
  return 1
}
any_other_window() {  # pid wizard -> another visible window of the pid
  for _ in $(seq 1 100); do
    for id in $(xdotool search --onlyvisible --pid "$1"); do
      [[ $id != "$2" ]] && { echo "$id"; return 0; }
    done
    sleep 0.1
  done
  return 1
}
shot() { /usr/bin/import -window "$1" "$dir/$2.png"; }
# Enter: Next, then Finish (the default button); the window may have grown
# with its texts, so no fixed place is clicked.
next() { xdotool windowfocus --sync "$1"; xdotool key --window "$1" Return; sleep 0.4; }

# The usual desktop font, then 14 points (a gtkrc, as a desktop's settings
# write it): every page in every language, and the window's size.
echo 'gtk-font-name = "Sans 14"' > "$work/gtkrc-14"
fails=0
for size in usual 14pt; do
  dir=$out/$size
  mkdir -p "$dir"
  if [[ $size == 14pt ]]; then export GTK2_RC_FILES=$work/gtkrc-14; else unset GTK2_RC_FILES; fi
  for code in ru uk en lv lt bg de ro ka kk vi tr el es hy it; do
    fresh_home "home-$size-$code"
    (cd "$work/kit" && PATH="/nonexistent:$PATH" ./qorv-setup "-L$code") & app=$!
    wid=$(window_of $app) || { echo "FAIL $size $code: no window"; fails=$((fails + 1)); kill $app; continue; }
    sleep 0.3; shot "$wid" "$code-1-welcome"
    echo "$code $(xdotool getwindowgeometry "$wid" | sed -n 's/.*Geometry: //p')" >> "$dir/sizes.txt"
    next "$wid"; shot "$wid" "$code-2-directory"
    next "$wid"; sleep 1.2; shot "$wid" "$code-3-success"
    next "$wid"; wait $app

    # A default directory that cannot be made: the error box and page.
    fresh_home "home-$size-$code-error"
    printf 'in the way' > "$HOME/.qorv"
    (cd "$work/kit" && ./qorv-setup "-L$code") & app=$!
    wid=$(window_of $app)
    next "$wid"; next "$wid"
    box=$(any_other_window $app "$wid") && shot "$box" "$code-4-error-box"
    # Behind the error box the window still shows the progress page.
    shot "$wid" "$code-4-progress"
    xdotool windowfocus --sync "$box"; xdotool key Return; sleep 0.5
    shot "$wid" "$code-5-error"
    next "$wid"; wait $app
  done
done
# At the usual size every window is 500 x 360; at 14 points some grow.
usual=$(grep -vc ' 500x360$' "$out/usual/sizes.txt")
grown=$(grep -vc ' 500x360$' "$out/14pt/sizes.txt")
echo "windows not 500x360: $usual at the usual size, $grown at 14 points"
[[ $usual -eq 0 && $grown -gt 0 ]] || fails=$((fails + 1))
count=$(ls "$out"/*/*.png | wc -l)
echo "screenshots: $count in $out"
[[ $fails -eq 0 && $count -eq 192 ]]
