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
