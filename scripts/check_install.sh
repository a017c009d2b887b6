#!/usr/bin/env bash
# Checks what a build folder installs and packages: the installed tree under a
# throw-away DESTDIR, the desktop entry, AppStream data, MIME package and manual
# pages, the Debian package (contents, dependencies, lintian) and its install
# and removal inside a throw-away root. Never installs onto this machine.
set -euo pipefail
build=${1:?usage: check_install.sh BUILD_DIR}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

echo "-- installed tree"
DESTDIR="$work/dest" cmake --install "$build" --prefix /usr >/dev/null
(cd "$work/dest" && find . -type f | sed 's|^\./||' | sort) >"$work/files"
id=io.github.varnix.Varnix
expected="usr/bin/varnix
usr/bin/varnix-cli
usr/share/applications/$id.desktop
usr/share/doc/varnix/changelog.gz
usr/share/doc/varnix/copyright
usr/share/doc/varnix/legend.png
usr/share/doc/varnix/measure.png
usr/share/doc/varnix/varnix.html"
for s in 128 16 22 24 256 32 48 64; do
  expected+=$'\n'"usr/share/icons/hicolor/${s}x${s}/apps/$id.png"
done
expected+="
usr/share/icons/hicolor/scalable/apps/$id.svg
usr/share/man/man1/varnix-cli.1.gz
usr/share/man/man1/varnix.1.gz
usr/share/metainfo/$id.metainfo.xml
usr/share/mime/packages/$id.xml"
diff <(echo "$expected" | sort) "$work/files" || fail "installed files differ"
[ -z "$(cd "$work/dest" && find . -mindepth 1 -maxdepth 1 ! -name usr)" ] || fail "outside the prefix"
"$work/dest/usr/bin/varnix-cli" --version | grep -qx "varnix-cli [0-9.]*" || fail "varnix-cli --version"
"$work/dest/usr/bin/varnix" --version | grep -qx "varnix [0-9.]*" || fail "varnix --version"
"$work/dest/usr/bin/varnix" --help | grep -q "usage: varnix \[FILE\]" || fail "varnix --help"

echo "-- desktop entry, AppStream, MIME, manual pages"
desktop-file-validate "$work/dest/usr/share/applications/$id.desktop" 2>&1 | grep -v ': hint: ' || true
desktop-file-validate "$work/dest/usr/share/applications/$id.desktop" 2>&1 | grep -qv ': hint: ' &&
  fail "desktop entry"
appstreamcli validate --no-net "$work/dest/usr/share/metainfo/$id.metainfo.xml" >/dev/null ||
  fail "AppStream metadata"
xmllint --noout "$work/dest/usr/share/mime/packages/$id.xml" || fail "MIME package"
mkdir -p "$work/mime/packages"
cp "$work/dest/usr/share/mime/packages/$id.xml" "$work/mime/packages/"
update-mime-database "$work/mime" >/dev/null 2>&1 || fail "update-mime-database"
grep -q "application/x-varnix-dat" "$work/mime/globs2" || fail "glob not registered"
for page in varnix varnix-cli; do
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l \
    "$work/dest/usr/share/man/man1/$page.1.gz" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "man page $page: $warnings"
done

echo "-- Debian package"
rm -f "$build"/varnix_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/varnix_*.deb)
dpkg-deb --info "$deb" >"$work/info"
dpkg-deb --contents "$deb" >"$work/contents"
grep -q "Depends: .*libqt6widgets6" "$work/info" || fail "dependencies"
grep -q "./usr/bin/varnix$" "$work/contents" || fail "package contents"
grep -qE 'preinst|postinst|prerm|postrm' "$work/info" && fail "maintainer scripts"
lintian --allow-root "$deb" >"$work/lintian" 2>&1 || true
cat "$work/lintian"
grep -q '^E: ' "$work/lintian" && fail "lintian errors"
root="$work/root"
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
touch "$root/var/lib/dpkg/status"
# The throw-away root has no other packages: the dependencies are expected missing.
dpkg --root="$root" --force-depends --force-not-root --force-script-chrootless -i "$deb" \
  >/dev/null 2>&1
[ -x "$root/usr/bin/varnix-cli" ] || fail "package not installed in the throw-away root"
dpkg --root="$root" --force-depends --force-script-chrootless -r varnix >/dev/null
[ -z "$(find "$root/usr" -type f 2>/dev/null)" ] || fail "files left after removal"
echo "-- install checks passed"
