#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when missing.
# As root it runs apt-get itself; otherwise it prints the exact command to
# run and fails, so that nothing half-configured follows.
set -euo pipefail

# Extra packages may be named on the command line (make fuzz adds clang).
packages=(
  cmake g++ make pkg-config
  zlib1g-dev libssl-dev libgtk2.0-dev libgtk-3-0 libgoogle-perftools-dev libgtest-dev
  xvfb xauth xdotool x11-utils imagemagick fonts-dejavu-core python3 gdb man-db ansible weston strace
  "$@"
)

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

line="apt-get install -y --no-install-recommends ${missing[*]}"
if [[ $(id -u) -ne 0 ]]; then
  echo "Missing packages. Run as root:" >&2
  echo "  apt-get update && $line" >&2
  exit 1
fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
