#!/usr/bin/env bash
# Builds Tarven the README's way, makes the Debian package with CPack and
# checks it: desktop-file-validate on its desktop entry, appstreamcli on its
# AppStream metadata and lintian on the package. Errors fail the run;
# warnings are shown. Also checks that the package holds every program with
# its manual page, and that the manual pages' examples work on a system
# where the package is installed: every file they name under
# /usr/share/doc/tarven is in the package, and none names the source tree's
# examples/ or build/ folders. Installs the packaging tools when missing
# (with sudo when not root).
#   TARVEN_BUILD_DIR  build folder (default: build)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${TARVEN_BUILD_DIR:-$here/build}

bash "$here/scripts/deps.sh" dpkg-dev file lintian desktop-file-utils appstream

launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$here}
fi
cmake -S "$here" -B "$build" -DTARVEN_SANITIZE=OFF -DTARVEN_UNSIGNED_CHAR=OFF -DTARVEN_BUILD_WINDOW=ON \
  -DTARVEN_BUILD_BENCH=OFF "${launcher[@]}" >/dev/null
cmake --build "$build" -j"$(nproc)"
rm -f "$build"/tarven_*.deb
(cd "$build" && cpack -G DEB)
debs=("$build"/tarven_*_*.deb)
[ -f "${debs[0]}" ] || { echo "no tarven_<version>_<arch>.deb was made" >&2; exit 1; }
deb=${debs[0]}

echo "=== $(basename "$deb")"
dpkg-deb --info "$deb"
dpkg-deb --contents "$deb"

unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
dpkg-deb --extract "$deb" "$unpacked"
status=0
echo "=== contents"
expected=(
  usr/share/applications/tarven.desktop
  usr/share/icons/hicolor/scalable/apps/tarven.svg
  usr/share/icons/hicolor/16x16/apps/tarven.png usr/share/icons/hicolor/32x32/apps/tarven.png
  usr/share/icons/hicolor/48x48/apps/tarven.png usr/share/icons/hicolor/256x256/apps/tarven.png
  usr/share/metainfo/org.tarven.Tarven.metainfo.xml
  usr/share/doc/tarven/copyright usr/share/doc/tarven/changelog.gz
  usr/share/doc/tarven/examples/small.map usr/share/doc/tarven/examples/medium.map
  usr/share/doc/tarven/examples/large.map
)
# Every manual page of the source tree, and the program it describes.
for page in "$here"/data/*.1 "$here"/man/*.1; do
  name=$(basename "$page" .1)
  expected+=("usr/share/man/man1/$name.1.gz" "usr/bin/$name")
done
for f in "${expected[@]}"; do
  [ -f "$unpacked/$f" ] || { echo "missing from the package: /$f" >&2; status=1; }
done
# The examples as the repository has them.
for f in "$here"/examples/*.map; do
  cmp -s "$f" "$unpacked/usr/share/doc/tarven/examples/$(basename "$f")" ||
    { echo "example differs or is missing: $(basename "$f")" >&2; status=1; }
done
# The manual pages' examples, as an installed system sees them: a path
# under /usr/share/doc/tarven must be in the package's file list, and the
# source tree's examples/ and build/ folders do not exist there.
contents=$(dpkg-deb --contents "$deb" | awk '{name = $6; sub(/^\./, "", name); print name}')
for page in "$unpacked"/usr/share/man/man1/*.1.gz; do
  examples=$(zcat "$page" | awk '/^\.SH/ {on = ($0 ~ /^\.SH "?EXAMPLES?"?[[:space:]]*$/); next} on' |
             sed -e 's/\\-/-/g' -e 's/\\f[BIRP]//g' -e 's/\\&//g')
  for f in $(grep -o '/usr/share/doc/tarven/[^[:space:]"'"'"']*' <<<"$examples" | sed 's/[.,;:)]*$//' | sort -u); do
    grep -qxF "$f" <<<"$contents" ||
      { echo "$(basename "$page" .gz): its example names $f, which the package does not install" >&2; status=1; }
  done
  for f in $(grep -oE '(^|[[:space:]"'"'"'=])(\./)?(examples|build)/[^[:space:]"'"'"']*' <<<"$examples" |
             sed -E 's/^[[:space:]"'"'"'=]//' | sort -u); do
    echo "$(basename "$page" .gz): its example names $f, a path of the source tree that the package does not install" >&2
    status=1
  done
done
[ $status -eq 0 ] && echo "every expected file is there"
echo "=== desktop-file-validate"
for f in "$unpacked"/usr/share/applications/*.desktop; do
  desktop-file-validate "$f" || status=1
done
echo "=== appstreamcli validate"
for f in "$unpacked"/usr/share/metainfo/*.metainfo.xml; do
  appstreamcli validate --no-net "$f" || status=1
done
echo "=== lintian"
lintian --display-info "$deb" || status=1
if [ $status -ne 0 ]; then
  echo "package checks failed" >&2
  exit 1
fi
echo "package checks passed: $deb"
