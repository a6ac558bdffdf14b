#!/bin/bash
# Builds Qt 6 for MinGW-w64 (Core, Gui, Widgets, Test; the windows and
# offscreen platform plug-ins) from Debian's own qt6-base source package and
# installs it into a per-machine cache, once. The machine's APT sources are not
# touched: the deb-src line lives in a private APT configuration.
#
#   tools/win-kit.sh            build the kit unless it is there
#   tools/win-kit.sh --print    print the kit's folder (whether or not it is built)
#   tools/win-kit.sh --check    exit 0 when a whole kit is there
#
# A kit is whole only when its stamp file exists; the stamp is written last,
# after the install, and the install goes to a temporary folder that is renamed
# into place, so an interrupted build is never taken for a kit.
set -euo pipefail

QT_VERSION=6.4.2
DEB_VERSION=6.4.2+dfsg
CACHE=${KESTREL_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/kestrel-utilite}
KIT=$CACHE/qt-$QT_VERSION-mingw64
STAMP=$KIT/kestrel-kit.stamp
JOBS=${JOBS:-$(nproc)}
HERE=$(cd "$(dirname "$0")/.." && pwd)

case "${1:-}" in
  --print) echo "$KIT"; exit 0 ;;
  --check) [ -f "$STAMP" ]; exit $? ;;
  "") ;;
  *) echo "usage: $0 [--print|--check]" >&2; exit 2 ;;
esac

if [ -f "$STAMP" ]; then
  echo "Qt $QT_VERSION for MinGW-w64 is ready in $KIT"
  exit 0
fi

WORK=$CACHE/qt-$QT_VERSION-mingw64.work
mkdir -p "$WORK"
cd "$WORK"
start=$(date +%s)

# The source, once: a private list of bookworm's deb-src.
if [ ! -f "qtbase-everywhere-src-$QT_VERSION/.extracted" ]; then
  mkdir -p apt/lists/partial
  echo "deb-src http://deb.debian.org/debian bookworm main" > apt/sources.list
  APT=(-o Dir::Etc::SourceList="$WORK/apt/sources.list" -o Dir::Etc::SourceParts=-
       -o Dir::State::Lists="$WORK/apt/lists" -o Dir::Cache="$WORK/apt")
  if ! ls qt6-base_"$DEB_VERSION".orig.tar.xz >/dev/null 2>&1; then
    apt-get "${APT[@]}" update -qq
    apt-get "${APT[@]}" source --download-only "qt6-base=$DEB_VERSION-10" 2>/dev/null ||
      apt-get "${APT[@]}" source --download-only qt6-base
  fi
  rm -rf "qtbase-everywhere-src-$QT_VERSION"
  tar -xf qt6-base_"$DEB_VERSION".orig.tar.xz
  touch "qtbase-everywhere-src-$QT_VERSION/.extracted"
fi

STAGE=$KIT.partial
rm -rf "$STAGE"
# Debian's source has no Wintab header, hence no tablet events (the program
# uses none). Everything not needed by the program or its tests is left out.
cmake -S "qtbase-everywhere-src-$QT_VERSION" -B build -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$HERE/cmake/mingw-w64.cmake" \
  -DCMAKE_CROSSCOMPILING_EMULATOR= \
  -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$STAGE" \
  -DBUILD_SHARED_LIBS=ON -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF \
  -DFEATURE_tabletevent=OFF \
  -DFEATURE_sql=OFF -DFEATURE_network=OFF -DFEATURE_dbus=OFF -DFEATURE_opengl=OFF -DINPUT_opengl=no \
  -DFEATURE_vulkan=OFF -DFEATURE_printsupport=OFF -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF \
  -DFEATURE_jpeg=OFF -DFEATURE_gif=OFF \
  -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_png=OFF \
  -DFEATURE_system_harfbuzz=OFF -DFEATURE_system_freetype=OFF -DFEATURE_system_doubleconversion=OFF \
  -DFEATURE_system_libb2=OFF
configured=$(date +%s)
cmake --build build -j "$JOBS"
built=$(date +%s)
cmake --install build
[ -f "$STAGE/lib/cmake/Qt6Widgets/Qt6WidgetsConfig.cmake" ] &&
  [ -f "$STAGE/bin/Qt6Widgets.dll" ] && [ -f "$STAGE/bin/Qt6Test.dll" ] &&
  [ -f "$STAGE/plugins/platforms/qwindows.dll" ] && [ -f "$STAGE/plugins/platforms/qoffscreen.dll" ] ||
  { echo "the kit's install is incomplete" >&2; exit 1; }
rm -rf "$KIT"
mv "$STAGE" "$KIT"
printf 'qt %s mingw64 configure %ss build %ss\n' "$QT_VERSION" $((configured - start)) $((built - configured)) > "$STAMP"
cat "$STAMP"
# The source and the object files are not kept: the kit is what is reused.
cd / && rm -rf "$WORK"
echo "Qt $QT_VERSION for MinGW-w64 installed in $KIT"
