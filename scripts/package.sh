#!/usr/bin/env bash
# Builds the Debian package of the GPS sleeve stack from a build folder:
# the programs, the platform library, the modules, the packages' cabinets and
# the manual pages under /usr, its dependencies found by dpkg-shlibdeps
# (and the fonts, declared by hand). Prints the package's path.
#   scripts/package.sh [build-dir]           (default: build/, made when missing)
#   scripts/package.sh --check [build-dir]   then checks it: its contents, lintian,
#                                            and a short headless run of the
#                                            packaged handheld, unpacked in a
#                                            scratch folder
# Install it with `sudo apt-get install ./gps-sleeve_<version>_<arch>.deb`.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
check=false
if [ "${1:-}" = "--check" ]; then check=true; shift; fi
# Absolute, since cpack runs from inside the build folder.
build=$(realpath -m "${1:-$root/build}")
"$root/scripts/install-deps.sh"
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -G Ninja >/dev/null
fi
if ! grep -q '^SANITIZE:STRING=$' "$build/CMakeCache.txt"; then
  echo "package.sh: $build is a sanitizer build; package a plain one" >&2
  exit 2
fi
cmake --build "$build" --target shipped
out=$build/package
rm -rf "$out"
(cd "$build" && cpack -G DEB -B "$out" >/dev/null)
deb=$(ls "$out"/*.deb)
# cpack gives any package with a library under /usr/lib maintainer scripts
# that run ldconfig; the platform library's folder is private, ldconfig
# never reads it, and the scripts would keep the package's record after
# `apt-get remove`. The package is made again without them.
unpacked=$out/unpacked
dpkg-deb --raw-extract "$deb" "$unpacked"
rm -f "$unpacked/DEBIAN/postinst" "$unpacked/DEBIAN/postrm"
dpkg-deb --root-owner-group --build "$unpacked" "$deb" >/dev/null
rm -rf "$unpacked"
echo "$deb"
$check || exit 0

# Its contents: everything under /usr; each program with its manual page;
# the platform library, the four modules and the two cabinets.
contents=$(dpkg-deb --contents "$deb" | awk '{print $6}')
fail() { echo "package.sh: $deb: $*" >&2; exit 1; }
if grep -v -e '^\./$' -e '^\./usr/' <<<"$contents" | grep -q .; then fail "files outside /usr"; fi
for file in usr/lib/gps-sleeve/libplatform.so usr/share/gps-sleeve/packages/GpsSleeve.CAB \
            usr/share/gps-sleeve/packages/SecondSleeve.CAB usr/share/doc/gps-sleeve/copyright \
            usr/lib/gps-sleeve/modules/{Ferrix,Tessiv,Kolvane,SleeveSerial}.so; do
  grep -qx "\./$file" <<<"$contents" || fail "no $file"
done
programs=$(sed -n 's|^\./usr/bin/\(.\)|\1|p' <<<"$contents")
[ "$(wc -w <<<"$programs")" -eq 8 ] || fail "$(wc -w <<<"$programs") programs, not 8"
for program in $programs; do
  grep -qx "\./usr/share/man/man1/$program.1.gz" <<<"$contents" || fail "no manual page of $program"
done
lintian --fail-on error,warning "$deb"

# The packaged programs run from where they are unpacked, as from /usr.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
dpkg-deb --extract "$deb" "$scratch/root"
run=$("$scratch/root/usr/bin/handheld" --headless --seconds 5 --screenshot "$scratch/screen.png" 2>&1) ||
  fail "the packaged handheld failed: $run"
grep -q 'Client driver loaded from Drivers\\Tessiv\\0100\\0001 as COM3:' <<<"$run" ||
  fail "the packaged handheld did not load the sleeve's driver: $run"
echo "package.sh: $deb checked (contents, lintian, a run of its handheld)"
