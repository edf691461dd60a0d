#!/usr/bin/env bash
# Installs the build into a fresh prefix and checks that the desktop finds the program,
# its menu entry and its icon there. The entry is validated where desktop-file-validate
# is installed.
# Usage: InstallCheck.sh BUILD_DIR
set -u
build="$1"
prefix="$(mktemp -d)"
trap 'rm -rf "$prefix"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

cmake --install "$build" --prefix "$prefix" >"$prefix.txt" 2>&1 || { cat "$prefix.txt"; rm -f "$prefix.txt"; fail "install failed"; }
rm -f "$prefix.txt"
[ -x "$prefix/bin/reelvault" ] || fail "bin/reelvault missing or not executable"
desktop="$prefix/share/applications/reelvault.desktop"
[ -f "$desktop" ] || fail "share/applications/reelvault.desktop missing"
[ -s "$prefix/share/icons/hicolor/scalable/apps/reelvault.svg" ] || fail "icon missing"
grep -q '^Exec=reelvault %f$' "$desktop" || fail "the entry does not pass the file"
grep -q '^Icon=reelvault$' "$desktop" || fail "the entry names another icon"
if command -v desktop-file-validate >/dev/null 2>&1; then
    desktop-file-validate "$desktop" || fail "the entry is not valid"
fi
echo "PASS"
