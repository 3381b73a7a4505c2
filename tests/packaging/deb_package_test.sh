#!/usr/bin/env bash
# Builds the Debian package from the already built tree and checks what it
# holds and what it asks apt for: the programs, the menu entry (valid, with
# the window class), the themed icons, and the libraries found by the scan plus
# the ones loaded at run time.
set -euo pipefail
build_dir=$1
out=$(mktemp -d /tmp/qnchat-deb-XXXXXX)
trap 'rm -rf "$out"' EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

cpack -G DEB -B "$out" --config "$build_dir/CPackConfig.cmake" > "$out/cpack.log" 2>&1 ||
  { cat "$out/cpack.log" >&2; fail "cpack failed"; }
deb=$(ls "$out"/qnchat_*.deb 2>/dev/null | head -n1)
[ -n "$deb" ] || fail "no package written"

contents=$(dpkg-deb -c "$deb")
for path in ./usr/bin/QNChat ./usr/bin/qnchat-peer ./usr/share/applications/QNChat.desktop \
            ./usr/share/icons/hicolor/48x48/apps/qnchat.png \
            ./usr/share/icons/hicolor/256x256/apps/qnchat.png; do
  grep -q " $path\$" <<<"$contents" || fail "$path missing from the package"
done

depends=$(dpkg-deb -f "$deb" Depends)
for lib in libqt5widgets5 libqt5sql5 libqt5sql5-sqlite libavcodec59 libx11-6 libegl1; do
  grep -Eq "(^|, )$lib( |,|$)" <<<"$depends" || fail "Depends lacks $lib: $depends"
done
[ "$(dpkg-deb -f "$deb" Package)" = qnchat ] || fail "package name"

mkdir "$out/x"
dpkg-deb -x "$deb" "$out/x"
desktop-file-validate "$out/x/usr/share/applications/QNChat.desktop" || fail "desktop entry invalid"
grep -q '^StartupWMClass=QNChat$' "$out/x/usr/share/applications/QNChat.desktop" ||
  fail "desktop entry lacks the window class"
echo "package $(basename "$deb"): $(wc -l <<<"$contents") entries; Depends: $depends"
