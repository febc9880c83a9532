#!/bin/bash
# What `cmake --install` lays out for the device image works as installed: the
# programs and example files sit where the image expects them, the example
# settings name the installed control program, and the example boot hook
# brings eth0 up through the installed panel-setup, which reads the example
# files beside itself. Inside the panel sandbox only: the hook runs panel-setup -q.
#
# Usage: installed-image.sh BUILD_DIR INSTALL_PREFIX
set -u
"$(dirname "$0")/../sandbox/sandboxguard.sh" || exit 3
source "$(dirname "$0")/../blackbox/checks.sh"

readonly BUILD=$1
readonly PREFIX=$2
STAGE=$(mktemp -d /tmp/panel-image.XXXXXX)
trap 'rm -rf "$STAGE"' EXIT

# As the package is made: staged through DESTDIR, stripped.
if ! DESTDIR=$STAGE cmake --install "$BUILD" --strip > "$STAGE.install.log" 2>&1; then
    cat "$STAGE.install.log" >&2
    fail "cmake --install failed"
fi
rm -f "$STAGE.install.log"
root=$STAGE$PREFIX

for program in panel-setup/panel-setup bin/kiosk-browser bin/kiosk-browser-control share/panel/boot/panel-network; do
    check "$program is installed and executable" test -f "$root/$program" -a -x "$root/$program"
done
for file in panel-setup/settings.json panel-setup/header.txt share/panel/kiosk-browser.conf share/panel/eglfs.conf \
    share/panel/keyboard.qmap share/panel/boot/panel-network.service lib/node_modules/gpio-extension/package.json \
    lib/node_modules/gpio-extension/index.d.ts; do
    check "$file is installed" test -f "$root/$file" -a ! -x "$root/$file"
done
check "nothing outside the prefix" test "$(cd "$STAGE" && find . -path "./${PREFIX#/}" -prune -o -type f -print)" = ""

# require('gpio-extension') loads what package.json's "main" names.
module=$root/lib/node_modules/gpio-extension
main=$(sed -n 's/^ *"main": *"\([^"]*\)".*/\1/p' "$module/package.json")
check "the module's package.json names its installed binary ($main)" test -n "$main" -a -f "$module/$main"

# The example settings start the installed control program, by absolute path.
command=$(sed -n 's/^ *"browser_start_command": *"\([^"]*\)".*/\1/p' "$root/panel-setup/settings.json")
check "the example settings name the installed control program ($command)" \
    test "$command" = "$PREFIX/bin/kiosk-browser-control"
check "the example hook runs the installed panel-setup" \
    grep -qx "PANEL_SETUP='$PREFIX/panel-setup/panel-setup'" "$root/share/panel/boot/panel-network"
check "the example unit runs the installed panel-setup -q" \
    grep -qx "ExecStart=$PREFIX/panel-setup/panel-setup -q" "$root/share/panel/boot/panel-network.service"

# The hook as the image's init runs it, with its program path pointed at the
# staged panel-setup (through the emulator in a cross build).
{
    echo '#!/bin/sh'
    printf 'exec'
    printf " '%s'" "${TARGET_RUN[@]}" "$root/panel-setup/panel-setup"
    printf ' "$@"\n'
} > "$STAGE/panel-setup-here"
chmod 0755 "$STAGE/panel-setup-here"
sed "s|^PANEL_SETUP=.*|PANEL_SETUP='$STAGE/panel-setup-here'|" "$root/share/panel/boot/panel-network" > "$STAGE/hook"
chmod 0755 "$STAGE/hook"

log=$("$STAGE/hook" start 2>&1)
check "the hook's start exits 0" test $? = 0
check "panel-setup read the example settings beside it" \
    grep -qF "configurationFilePath[$root/panel-setup/settings.json]" <<< "$log"
check "panel-setup read the example header beside it" grep -qF '_textHeaderValue1: "Оператор: пример"' <<< "$log"
check "the example settings are in DHCP mode" grep -qF '_dhcpEnable: true' <<< "$log"
leased=""
for _ in $(seq 100); do
    leased=$(ip -4 -o addr show dev eth0 | grep -o '192\.168\.1\.1[0-9][0-9]/24')
    [ -n "$leased" ] && break
    sleep 0.1
done
check "eth0 gets a lease after the hook ($leased)" test -n "$leased"
check "the DHCP client goes on after the hook" test -n "$(pgrep -x udhcpc)"

"$STAGE/hook" stop
check "the hook's stop exits 0" test $? = 0
"$STAGE/hook" bogus 2> /dev/null
check "the hook refuses an unknown action with status 2" test $? = 2

finish
