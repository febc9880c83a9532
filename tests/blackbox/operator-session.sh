#!/bin/bash
# An operator at the panel, end to end: the real panel-setup on the real eglfs
# platform, drawn into a virtual X display, typed at through eglfs's own evdev
# keyboard handler. The operator turns the pointer on with F12, steers it onto
# the address's "⚙" by looking at the screen, raises the last octet by four,
# applies, saves and leaves. Every look is kept as a screenshot.
#
# With "x11" as fourth argument the same session runs as the demo does on a
# desktop: panel-setup in an X window ("-platform xcb"), typed at through X.
# The fifth argument is the display's size, 1024x600 unless given.
#
# Usage: operator-session.sh PANEL_SETUP PANEL_OPERATOR SHOTS_DIR [eglfs|x11 [WIDTHxHEIGHT]]
source "$(dirname "$0")/lib.sh" "$1"
readonly OPERATOR=$2
readonly SHOTS=$3
readonly PLATFORM=${4:-eglfs}
readonly DISPLAY_SIZE=${5:-1024x600}
rm -rf "$SHOTS"
mkdir -p "$SHOTS"

# --- the virtual display ----------------------------------------------------
# /tmp is shared with the host and with parallel runs: let Xvfb pick a free
# display number and tell it through a pipe.
exec {display_fd}> "$DEVICE/display"
Xvfb -displayfd "$display_fd" -screen 0 "${DISPLAY_SIZE}x24" -nolisten tcp -nolisten unix-abstract \
    > "$SHOTS/xvfb.log" 2>&1 &
xvfb=$!
exec {display_fd}>&-
wait_for 10 test -s "$DEVICE/display" || { fail "Xvfb did not start"; finish; }
DISPLAY=:$(head -1 "$DEVICE/display")
export DISPLAY

# --- the keyboard -------------------------------------------------------------
# A fresh pipe for this run only: events left unread in an old one would be
# typed into the next program. Qt's evdev handler takes only /dev paths. This
# script holds the pipe open for writing for the whole run, or the reader
# would see end-of-file after every key and spin.
keyboard=/dev/panel-keyboard-$$-$RANDOM
mkfifo -m 0600 "$keyboard"
# shellcheck disable=SC2034 # only held open, never read here
exec {keyboard_fd}<> "$keyboard"
export PANEL_KEYBOARD=$keyboard
platform_arguments=()
if [ "$PLATFORM" = x11 ]; then
    export PANEL_KEYBOARD=x11
    platform_arguments=(-platform xcb)
fi

panel=""
# shellcheck disable=SC2317 # run by the EXIT trap
cleanup() {
    [ -n "$panel" ] && kill "$panel" 2> /dev/null
    kill "$xvfb" 2> /dev/null
    rm -f "$keyboard"
    rm -rf "$DEVICE"
}
trap cleanup EXIT

# --- the device ---------------------------------------------------------------
printf 'Пульт оператора\nЛиния 2, участок сборки\n' > "$DEVICE/header.txt"
printf 'PNL-0042\n' > "$DEVICE/serial"
settings browser_start_command="\"$PANEL_SANDBOX_BROWSER\"" dhcp_enable=false \
    ip_address='"192.168.1.10"' ip_mask='"255.255.255.0"' ip_gateway='"192.168.1.1"' \
    serial_id_file_path="\"$DEVICE/serial\"" show_cmd_button=true
clear_recorded

QT_QPA_EGLFS_INTEGRATION=eglfs_x11 QT_QPA_EGLFS_NO_LIBINPUT=1 \
    QT_QPA_EVDEV_KEYBOARD_PARAMETERS="$keyboard" \
    "${TARGET_RUN[@]}" "$DEVICE/panel-setup" "${platform_arguments[@]}" > "$SHOTS/panel-setup.log" 2>&1 &
panel=$!

operator() {
    "${TARGET_RUN[@]}" "$OPERATOR" "$@" 2> >(grep -v XDG_RUNTIME_DIR >&2)
}

# look NAME: one screenshot, kept under the step's name.
look() {
    operator shot "$SHOTS/$1.png"
}

# appears SECONDS NAME TEXT: waits until the caption is on the screen.
appears() {
    local deadline=$((SECONDS + $1))
    while [ $SECONDS -lt $deadline ]; do
        look "$2"
        operator find "$SHOTS/$2.png" "$3" > /dev/null && return 0
        kill -0 "$panel" 2> /dev/null || return 1
        sleep 0.5
    done
    return 1
}

step() { # NAME TEXT [OPTIONS...]: steer onto a caption and press Enter
    local name=$1
    shift
    if operator goto "$SHOTS/$name" "$@" > "$SHOTS/$name.log"; then
        pass "pointer steered onto \"$1\" ($(grep -c '^look' "$SHOTS/$name.log") looks)"
    else
        fail "could not steer onto \"$1\": $(tail -1 "$SHOTS/$name.log")"
        finish
    fi
    operator key ENTER
}

# The browser is stopped first and the network set up before the window.
appears 20 01-started "Сохранить" || { fail "the settings screen never appeared"; finish; }
pass "the settings screen is up"
expect_contains "$(recorded)" "[\"$PANEL_SANDBOX_BROWSER\",\"stop\"]" "the browser was told to stop at start"

operator key F12
look 02-pointer-on
if operator arrow "$SHOTS/02-pointer-on.png" > /dev/null; then
    pass "F12 shows the pointer"
else
    fail "no pointer after F12"
fi

step 03-address-gear "⚙" --near "IP адрес"
if appears 10 04-address-dialog "Отмена"; then
    pass "the address dialog opened"
else
    fail "no address dialog"
    finish
fi

step 05-last-octet-plus "+" --pick rightmost
operator key ENTER ENTER ENTER
look 06-octet-stepped

# The dialog's "Применить" sits above the main window's row of buttons.
step 07-dialog-apply "Применить" --pick topmost
if appears 10 08-address-applied "192.168.1.14"; then
    pass "the main window shows 192.168.1.14"
else
    fail "the main window does not show the new address"
fi

step 09-save "Сохранить"
look 10-saved
step 11-exit "Выйти"

status=""
for _ in $(seq 100); do
    if ! kill -0 "$panel" 2> /dev/null; then
        wait "$panel"
        status=$?
        break
    fi
    sleep 0.1
done
panel=""
expect_eq "$status" "0" "panel-setup left with status 0"

expect_contains "$(tr -d ' \n' < "$DEVICE/settings.json")" '"ip_address":"192.168.1.14"' \
    "settings.json holds the new address"
expect_eq "$(ipv4_of_eth0)" "192.168.1.14/24" "eth0 carries the new address"
expect_eq "$(ip route show default)" "default via 192.168.1.1 dev eth0 " "the default route is kept"
wait_for 5 grep -qF "[\"$PANEL_SANDBOX_BROWSER\",\"start\"]" "$PANEL_SANDBOX_LOG"
expect_contains "$(recorded)" "[\"$PANEL_SANDBOX_BROWSER\",\"start\"]" "the browser was told to start"
echo "screenshots: $SHOTS"
finish
