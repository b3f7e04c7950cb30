#!/usr/bin/env bash
# Builds the release binaries, dist/qorv-setup and dist/vkt, and the archive
# dist/qorv-setup-<version>-x86_64.tar.gz. They are compiled inside a
# Debian 11 root (glibc 2.31) with the C++ runtime, tcmalloc, zlib and
# libcrypto linked in, so that they start on any x86-64 Linux from then on;
# GTK+ 2 is loaded at run time where the machine has it.
#
# The roots are made once with debootstrap and kept, for every clone of the
# sources, in $QORV_DIST_ROOTS (default ~/.cache/qorv/dist-roots):
#   bullseye        the bare system; the release tests run the binaries there
#   bullseye-build  the same with the compiler and the -dev packages
# A root whose packages differ from those asked for below is made again.
# Making them needs root (debootstrap, chroot, mount namespaces).
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
work=$src/build-dist
roots=${QORV_DIST_ROOTS:-${XDG_CACHE_HOME:-$HOME/.cache}/qorv/dist-roots}
mirror=${QORV_DEBIAN_MIRROR:-http://deb.debian.org/debian}
jobs=${JOBS:-$(nproc)}

if [[ $(id -u) -ne 0 ]]; then
  echo "dist: building in a Debian 11 root needs root (debootstrap, chroot)" >&2
  exit 1
fi
bash "$src/scripts/install-deps.sh" debootstrap binutils

# A root is made under a temporary name and renamed when complete: an
# interrupted run starts that root again instead of building on half of it.
make_root() {
  local dir=$1 from=$2
  shift 2
  # The ready mark names the packages the root was made with.
  [[ -e $dir/.qorv-root-ready && "$(cat "$dir/.qorv-root-ready")" == "$*" ]] && return 0
  rm -rf "$dir.part"
  if [[ -z $from ]]; then
    echo "dist: debootstrap bullseye into $dir"
    debootstrap --variant=minbase bullseye "$dir.part" "$mirror" >"$work/debootstrap.log" 2>&1 ||
      { tail -n 20 "$work/debootstrap.log" >&2; exit 1; }
  else
    cp -a "$from" "$dir.part"
    rm -f "$dir.part/.qorv-root-ready"
  fi
  if [[ $# -gt 0 ]]; then
    echo "dist: installing $* into $dir"
    cp /etc/resolv.conf "$dir.part/etc/resolv.conf"
    chroot "$dir.part" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive chroot "$dir.part" \
      apt-get install -y -qq --no-install-recommends "$@" >"$work/apt.log" 2>&1 ||
      { tail -n 20 "$work/apt.log" >&2; exit 1; }
    chroot "$dir.part" apt-get clean
  fi
  echo "$*" > "$dir.part/.qorv-root-ready"
  rm -rf "$dir"
  mv "$dir.part" "$dir"
}

mkdir -p "$roots" "$work/obj"
echo "dist: the Debian 11 roots are in $roots"
make_root "$roots/bullseye" ""
make_root "$roots/bullseye-build" "$roots/bullseye" \
  g++ cmake make pkg-config binutils libgtk2.0-dev zlib1g-dev libssl-dev libgoogle-perftools-dev

# The sources and the build folder are bound into the root inside a private
# mount namespace, which goes with the command.
lib=/usr/lib/x86_64-linux-gnu
root=$roots/bullseye-build
mkdir -p "$root/src" "$root/obj"
unshare -m bash -euo pipefail -c '
  mount --bind -o ro "$1" "$3/src"
  mount --bind "$2" "$3/obj"
  chroot "$3" cmake -S /src -B /obj -DCMAKE_BUILD_TYPE=Release -DQORV_WERROR=ON \
    -DQORV_TESTS=OFF -DQORV_STATIC_RUNTIME=ON -DOPENSSL_USE_STATIC_LIBS=ON \
    -DZLIB_LIBRARY="$5/libz.a" -DTCMALLOC_MINIMAL="$5/libtcmalloc_minimal.a" >/dev/null
  chroot "$3" cmake --build /obj -j "$4" --target qorv-setup vkt
' dist "$src" "$work/obj" "$root" "$jobs" "$lib"

version=$(sed -n 's/^project(qorv_setup VERSION \([0-9.]*\).*/\1/p' "$src/CMakeLists.txt")
name=qorv-setup-$version-x86_64
out=$src/dist
rm -rf "$out"
mkdir -p "$out/$name"
for program in qorv-setup vkt; do
  strip -o "$out/$program" "$work/obj/bin/$program"
  cp "$out/$program" "$out/$name/$program"
done
cp "$src/README.md" "$out/$name/"
# The same files give the same archive: names sorted, no owners or times of
# this machine.
epoch=$(git -C "$src" log -1 --format=%ct 2>/dev/null || echo 0)
tar --sort=name --mtime="@$epoch" --owner=0 --group=0 --numeric-owner \
  -C "$out" -cf - "$name" | gzip -9n >"$out/$name.tar.gz"
rm -rf "${out:?}/$name"
ls -l "$out"
