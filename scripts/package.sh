#!/usr/bin/env bash
# Builds Tarven the README's way, makes the Debian package with CPack and
# checks it: desktop-file-validate on its desktop entry, appstreamcli on its
# AppStream metadata and lintian on the package. Errors fail the run;
# warnings are shown. Installs the packaging tools when missing (with sudo
# when not root).
#   TARVEN_BUILD_DIR  build folder (default: build)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${TARVEN_BUILD_DIR:-$here/build}

bash "$here/scripts/deps.sh" dpkg-dev file lintian desktop-file-utils appstream

cmake -S "$here" -B "$build" -DTARVEN_SANITIZE=OFF >/dev/null
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
  usr/bin/tarven usr/bin/tarven-render usr/bin/tarven-stats usr/bin/tarven-tiles
  usr/share/applications/tarven.desktop
  usr/share/icons/hicolor/scalable/apps/tarven.svg
  usr/share/icons/hicolor/16x16/apps/tarven.png usr/share/icons/hicolor/32x32/apps/tarven.png
  usr/share/icons/hicolor/48x48/apps/tarven.png usr/share/icons/hicolor/256x256/apps/tarven.png
  usr/share/metainfo/org.tarven.Tarven.metainfo.xml
  usr/share/man/man1/tarven.1.gz usr/share/man/man1/tarven-render.1.gz usr/share/man/man1/tarven-stats.1.gz
  usr/share/man/man1/tarven-tiles.1.gz
  usr/share/doc/tarven/copyright usr/share/doc/tarven/changelog.gz
  usr/share/doc/tarven/examples/small.map usr/share/doc/tarven/examples/medium.map
  usr/share/doc/tarven/examples/large.map
)
for f in "${expected[@]}"; do
  [ -f "$unpacked/$f" ] || { echo "missing from the package: /$f" >&2; status=1; }
done
# The heightmap import's module, in <libdir>/tarven (multiarch or not).
modules=("$unpacked"/usr/lib/tarven/tarven_heightmap.so "$unpacked"/usr/lib/*/tarven/tarven_heightmap.so)
found=0
for f in "${modules[@]}"; do [ -f "$f" ] && found=1; done
[ $found -eq 1 ] || { echo "missing from the package: /usr/lib/.../tarven/tarven_heightmap.so" >&2; status=1; }
# The examples as the repository has them, and every example file a manual
# page names is in the package.
for f in "$here"/examples/*.map; do
  cmp -s "$f" "$unpacked/usr/share/doc/tarven/examples/$(basename "$f")" ||
    { echo "example differs or is missing: $(basename "$f")" >&2; status=1; }
done
for page in "$unpacked"/usr/share/man/man1/*.1.gz; do
  for f in $(zcat "$page" | grep -o '/usr/share/doc/tarven/examples/[A-Za-z0-9_.-]*' | sort -u); do
    [ -e "$unpacked$f" ] || { echo "$(basename "$page") names $f, which the package lacks" >&2; status=1; }
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
