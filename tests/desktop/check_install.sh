#!/usr/bin/env bash
# Installs the build tree into a scratch prefix and checks that each file a
# desktop needs lands where the desktop looks for it, and that the installed
# program runs from there.
set -eu
build=${1:?usage: check_install.sh <build dir>}
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
status=0
for file in bin/scrivlet share/applications/org.scrivlet.Scrivlet.desktop \
    share/icons/hicolor/scalable/apps/scrivlet.svg share/metainfo/org.scrivlet.Scrivlet.metainfo.xml \
    share/man/man1/scrivlet.1.gz share/doc/scrivlet/copyright share/doc/scrivlet/changelog.Debian.gz \
    share/lintian/overrides/scrivlet; do
  [ -s "$prefix/$file" ] || { echo "missing: $file"; status=1; }
done
# The changelog names the package's version.
gzip -dc "$prefix/share/doc/scrivlet/changelog.Debian.gz" | head -n 1 | grep -q '^scrivlet ([0-9.]*-[0-9]*) ' ||
  { echo "changelog does not start with the package's version"; status=1; }
# The entry's icon and program are the installed ones.
grep -qx 'Icon=scrivlet' "$prefix/share/applications/org.scrivlet.Scrivlet.desktop" || { echo "icon name differs"; status=1; }
"$prefix/bin/scrivlet" --version | grep -q '^Scrivlet [0-9]' || { echo "installed program does not run"; status=1; }
# Nothing of the tests or benchmarks is installed.
extra=$(cd "$prefix" && find . -type f | grep -v -e '^./bin/scrivlet$' -e '^./share/' || true)
[ -z "$extra" ] || { echo "unexpected: $extra"; status=1; }
exit $status
