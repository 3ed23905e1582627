#!/usr/bin/env bash
# make_dist.sh BUILD OUT
# Builds the release module and plumeta-log.exe in the folder BUILD and packs
# them with their notes into OUT/plumeta-VERSION-win32.zip. The same commit gives the same bytes in
# any folder, at any time, for any user:
# - SOURCE_DATE_EPOCH (the last commit's date unless set) is the PE time
#   stamp and every packed file's time;
# - the toolchain keeps build paths out of the module;
# - the files go into the zip in a fixed order, with fixed modes, times in
#   UTC and no extra fields.
# The notes are kept in the tree as UTF-8 with LF line ends; CZYTAJ.txt is
# packed in Windows-1250 and README.txt in ASCII, both with CR LF.
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
build=$1
out=$2
mkdir -p "$build" "$out"
build=$(cd "$build" && pwd)
out=$(cd "$out" && pwd)

version=$(sed -n 's/^project(plumeta VERSION \([0-9.]*\).*/\1/p' "$src/CMakeLists.txt")
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git -C "$src" log -1 --format=%ct)}

cmake -S "$src" -B "$build" --toolchain "$src/cmake/mingw-i686-release.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DPLUMETA_RELEASE=ON >/dev/null
cmake --build "$build" -j 2 >/dev/null

stage="$build/package"
rm -rf "$stage"
mkdir -p "$stage"
cp "$build/plumeta.dll" "$stage/plumeta.dll"
cp "$build/plumeta-log.exe" "$stage/plumeta-log.exe"
iconv -f UTF-8 -t CP1250 "$src/packaging/CZYTAJ.txt" | sed 's/$/\r/' >"$stage/CZYTAJ.txt"
if LC_ALL=C grep -n '[^[:print:][:space:]]' "$src/packaging/README.txt"; then
  echo "make_dist: packaging/README.txt must be ASCII" >&2
  exit 1
fi
sed 's/$/\r/' "$src/packaging/README.txt" >"$stage/README.txt"
files=(plumeta.dll plumeta-log.exe CZYTAJ.txt README.txt)
(cd "$stage" && sha256sum "${files[@]}" >SHA256SUMS)
files+=(SHA256SUMS)
chmod 0644 "${files[@]/#/$stage/}"
touch -d "@$SOURCE_DATE_EPOCH" "${files[@]/#/$stage/}"

zip="$out/plumeta-$version-win32.zip"
rm -f "$zip"
(cd "$stage" && TZ=UTC zip -X -q "$zip" "${files[@]}")
echo "$zip"
