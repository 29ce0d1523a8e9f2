#!/usr/bin/env bash
# Builds the Debian package (CPack, DEB) and checks it without installing it:
# its Depends name the Debian package of every shared library the programs link
# against, and its files, unpacked with dpkg -x into a throwaway directory, are
# the programs, the desktop entry, the icon and the README, and the unpacked
# runner runs; the Python package, when it is built, is there too and runs.
#
#   scripts/package.sh       (the package is left in build/package/)
#
# The programs are built (only what changed) in build/, or in LANDUSE_BUILD_DIR.
set -euo pipefail
cd "$(dirname "$0")/.."
build="${LANDUSE_BUILD_DIR:-build}"

scripts/install_packages.sh dpkg-dev file desktop-file-utils
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release > /dev/null
# The Python package is installed with the programs when it is built at all.
python_target="$(grep -q '^LANDUSE_BUILD_PYTHON:BOOL=ON' "$build/CMakeCache.txt" && echo landuse_python || true)"
cmake --build "$build" -j"$(nproc)" --target landuse landuse-headless $python_target

rm -rf "$build/package"
(cd "$build" && cpack -G DEB -B "$PWD/package" > cpack.log 2>&1) || {
  cat "$build/cpack.log" >&2
  echo "package: cpack failed" >&2
  exit 1
}
deb="$(ls "$build"/package/*.deb)"
echo "package: built $deb"

fail() { echo "package: $*" >&2; exit 1; }

depends="$(dpkg-deb -f "$deb" Depends)"
echo "package: Depends: $depends"
# The package names alone, one a line, without versions or alternatives' bars.
depends_names="$(sed 's/([^)]*)//g; s/[,|]/\n/g' <<< "$depends" | tr -d ' ')"

unpacked="$(mktemp -d)"
trap 'rm -rf "$unpacked"' EXIT
dpkg -x "$deb" "$unpacked"

for path in usr/bin/landuse usr/bin/landuse-headless \
            usr/share/applications/landuse.desktop \
            usr/share/icons/hicolor/scalable/apps/landuse.svg \
            usr/share/doc/landuse/README.md; do
  [ -e "$unpacked/$path" ] || fail "$path is not in the package"
done
desktop-file-validate "$unpacked/usr/share/applications/landuse.desktop" || fail "the desktop entry is not valid"

# Every library the programs link against directly comes from a package the
# Depends name (the libraries those need are those packages' own Depends).
for program in landuse landuse-headless; do
  binary="$unpacked/usr/bin/$program"
  for soname in $(readelf -d "$binary" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'); do
    library="$(ldd "$binary" | awk -v name="$soname" '$1 == name { print $3 }')"
    [ -n "$library" ] || fail "$program needs $soname, which this machine lacks"
    owner="$(dpkg -S "$library" 2>/dev/null || dpkg -S "$(realpath "$library")")"
    owner="${owner%%:*}"
    grep -qxF "$owner" <<< "$depends_names" || fail "$program needs $soname from $owner, which Depends lacks"
  done
done
for needed in libqt6widgets6 libqt6charts6 libqt6gui6 libqt6core6; do
  grep -qxF "$needed" <<< "$depends_names" || fail "Depends lacks $needed"
done

# The unpacked programs run (their libraries are this machine's).
"$unpacked/usr/bin/landuse-headless" --steps 2 | head -n 1 | grep -qx 'step,agents,successful,avg_travel,max_mark,migrated,returning,empty,obstacles,residential,destinations,services,industry' \
  || fail "the packaged runner does not run"
"$unpacked/usr/bin/landuse" --version | grep -q '^landuse ' || fail "the packaged window program does not answer --version"
if [ -n "$python_target" ]; then
  module="$(find "$unpacked/usr/lib" -path '*dist-packages/landuse/__init__.py' | head -n 1)"
  [ -n "$module" ] || fail "the Python package is not in the package"
  PYTHONPATH="$(dirname "$(dirname "$module")")" /usr/bin/python3 -c 'import landuse; landuse.Simulation(Edit_size=10).step(2)' \
    || fail "the packaged Python package does not run"
  for needed in python3-numpy python3-pandas; do
    grep -qxF "$needed" <<< "$depends_names" || fail "Depends lacks $needed"
  done
fi

echo "package: $(basename "$deb") checked"
