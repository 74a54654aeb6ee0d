#!/usr/bin/env bash
# Builds the Debian package from the install rules (cpack -G DEB) and checks
# what it declares and carries. Installing it needs a clean system and root;
# here its metadata and contents are read with dpkg-deb.
#   deb_test.sh BUILD_DIR APP_ID
set -uo pipefail
build=$1
id=$2

source "$(dirname "$0")/checks.sh"

if ! command -v dpkg-deb >/dev/null || ! command -v dpkg-shlibdeps >/dev/null; then
  echo "skipped: dpkg-deb or dpkg-shlibdeps is not installed"
  exit 0
fi
scratch=$(mktemp -d "${TMPDIR:-/tmp}/quillet-deb.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

(cd "$build" && cpack -G DEB -B "$scratch" >"$scratch/cpack.log" 2>&1) \
  || { cat "$scratch/cpack.log"; echo "FAIL: cpack -G DEB"; exit 1; }
deb=$(ls "$scratch"/quillet_*.deb 2>/dev/null | head -1)
check "cpack made quillet_<version>_<arch>.deb" test -n "$deb"
[ -z "$deb" ] && exit 1
echo "package: $(basename "$deb"), $(du -h "$deb" | cut -f1)"

info=$(dpkg-deb -I "$deb")
echo "$info" | grep -E '^ (Package|Version|Architecture|Depends|Recommends|Section):'
depends=$(echo "$info" | sed -n 's/^ Depends: //p')
for lib in libqt6webenginewidgets6 libqt6widgets6 libqt6dbus6 libqt6svg6 libcurl4 libxml2 libxslt1.1; do
  check "depends on $lib" grep -q "\b$lib\b" <<<"$depends"
done
check "package name is quillet" grep -q '^ Package: quillet$' <<<"$info"

contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
for file in ./usr/bin/quillet ./usr/libexec/quillet/quillet-pane ./usr/share/quillet/config.xml ./usr/share/quillet/rss.xsl \
            ./usr/share/quillet/languages/0409/language.xml ./usr/share/quillet/help/Quillet.html \
            ./usr/share/applications/$id.desktop ./usr/share/metainfo/$id.metainfo.xml \
            ./usr/share/icons/hicolor/scalable/apps/$id.svg ./usr/share/icons/hicolor/48x48/apps/$id.png \
            ./usr/share/man/man1/quillet.1.gz ./usr/share/doc/quillet/copyright ./usr/share/doc/quillet/changelog.Debian.gz; do
  check "carries $file" grep -qx -- "$file" <<<"$contents"
done

# The changelog's latest entry is the package's version.
version=$(sed -n 's/^ Version: //p' <<<"$info")
dpkg-deb -x "$deb" "$scratch/root"
logged=$(zcat "$scratch/root/usr/share/doc/quillet/changelog.Debian.gz" | sed -n '1s/^quillet (\([^)]*\)).*/\1/p')
check "the changelog's latest entry is version $version (is $logged)" test "$logged" = "$version"

if command -v lintian >/dev/null; then
  # Run as root, lintian refuses unless told it may.
  lintian --allow-root --fail-on error,warning "$deb" >"$scratch/lintian.log" 2>&1
  lintian_status=$?
  check "lintian finds no error or warning" test "$lintian_status" -eq 0
  [ "$lintian_status" -ne 0 ] && cat "$scratch/lintian.log"
else
  echo "skipped: lintian is not installed"
fi

if [ "$failures" -gt 0 ]; then echo "$failures check(s) failed"; exit 1; fi
echo "all checks passed"
