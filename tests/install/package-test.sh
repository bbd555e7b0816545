#!/usr/bin/env bash
# package-test.sh BUILD_DIR CASE: installs what BUILD_DIR built into a throw-away
# root and checks it as a desktop would see it. Nothing is compiled here: the
# build directory CTest runs in already holds the program.
#   package  make the Debian package with CPack, unpack it with dpkg-deb -x, and
#            check its files under /usr, its control fields and its Depends
#   prefix   cmake --install into a DESTDIR under another prefix (/opt/pealix)
set -uo pipefail
build=$(cd "$1" && pwd) case=$2
here=$(cd "$(dirname "$0")" && pwd)
. "$here/check-layout.sh"

missing=()
for tool in cmake cpack dpkg-deb dpkg-shlibdeps appstreamcli desktop-file-validate readelf ldd; do
  command -v "$tool" >/dev/null 2>&1 || missing+=("$tool")
done
if [ ${#missing[@]} -gt 0 ]; then
  reason="needs ${missing[*]} (scripts/install-deps.sh installs them)"
  if [ "${CI:-}" = true ] || [ "${CI:-}" = 1 ]; then echo "FAIL: $reason"; exit 1; fi
  echo "SKIP: $reason"; exit 77
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

case $case in
prefix)
  if ! DESTDIR=$work/root cmake --install "$build" --prefix /opt/pealix >"$work/install.log" 2>&1; then
    cat "$work/install.log"; echo "FAIL: cmake --install"; exit 1
  fi
  check_layout "$work/root" /opt/pealix
  ;;
package)
  # CPack writes only below $work; the build directory is left as it was.
  if ! (cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/out") >"$work/cpack.log" 2>&1; then
    cat "$work/cpack.log"; echo "FAIL: cpack"; exit 1
  fi
  debs=("$work"/out/pealix_*.deb)
  if [ ${#debs[@]} != 1 ] || [ ! -f "${debs[0]}" ]; then
    cat "$work/cpack.log"; echo "FAIL: CPack made no single pealix_*.deb"; exit 1
  fi
  deb=${debs[0]}
  echo "Package $(basename "$deb"), $(stat -c %s "$deb") bytes:"
  dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print "  " $NF }'
  dpkg-deb -x "$deb" "$work/root"
  check_layout "$work/root" /usr

  # Everything lands under /usr, nothing in /usr/local or a path of this machine.
  stray=$(dpkg-deb -c "$deb" | awk '{ print $NF }' | grep -v -E '^\./(usr/?)?$|^\./usr/(bin|share)/' || true)
  [ -z "$stray" ] && echo "Every file is under /usr/bin or /usr/share" || fail "files outside /usr/bin and /usr/share: $stray"

  depends=$(dpkg-deb -f "$deb" Depends)
  echo "Depends: $depends"
  for lib in 'libqt6core6' 'libqt6gui6' 'libqt6widgets6' 'libqt6network6' 'libqt6dbus6' 'libqt6multimedia6' \
             'libavcodec[0-9]+' 'libavformat[0-9]+' 'libavutil[0-9]+' \
             'fonts-material-design-icons-iconfont'; do
    echo "$depends" | grep -q -E "(^|, )$lib( |,|$)" || fail "Depends lacks $lib"
  done
  echo "Recommends: $(dpkg-deb -f "$deb" Recommends)"
  dpkg-deb -f "$deb" Recommends | grep -q 'avahi-daemon' || fail "Recommends lacks avahi-daemon"

  # The metainfo's newest release is the package's version, so a release does
  # not go out describing the one before.
  version=$(dpkg-deb -f "$deb" Version)
  release=$(grep -o '<release version="[^"]*"' "$work/root/usr/share/metainfo/$app_id.metainfo.xml" | head -1 | cut -d'"' -f2)
  [ "$release" = "$version" ] || fail "metainfo's newest release is '$release', the package is $version"

  program=$work/root/usr/bin/pealix
  if [ -f "$program" ]; then
    ! readelf -S "$program" | grep -q '\.debug_info' || fail "/usr/bin/pealix still carries its debugging information"
    unresolved=$(ldd "$program" | grep 'not found' || true)
    [ -z "$unresolved" ] || fail "/usr/bin/pealix needs libraries this machine lacks: $unresolved"
  fi
  ;;
*)
  echo "unknown case $case"; exit 2
  ;;
esac

if [ "$failures" -gt 0 ]; then
  echo "$failures fault(s) in the installed files"
  exit 1
fi
echo "The installed files are where the desktop entry says"
