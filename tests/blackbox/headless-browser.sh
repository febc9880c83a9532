#!/bin/bash
# "-b" and "-s" run the configured browser-control program with "start" and
# "stop"; other first arguments select the settings screen, which first stops
# the browser.
source "$(dirname "$0")/lib.sh" "$1"

browser_log() { # waits a moment for detached programs, then prints the log
    sleep 0.3
    recorded
}

settings browser_start_command="\"$PANEL_SANDBOX_BROWSER\""
clear_recorded
panel_setup -b
expect_eq "$?" 0 "-b ends with status 0"
expect_eq "$(browser_log)" "[\"$PANEL_SANDBOX_BROWSER\",\"start\"]" "-b runs the browser program with start"
clear_recorded
panel_setup -s
expect_eq "$(browser_log)" "[\"$PANEL_SANDBOX_BROWSER\",\"stop\"]" "-s runs the browser program with stop"

# The whole setting is the program's path: never split, never given to a shell.
clear_recorded
settings browser_start_command="\"$PANEL_SANDBOX_BROWSER --kiosk; $PANEL_SANDBOX_BROWSER injected\""
panel_setup -b
expect_eq "$?" 0 "a setting with blanks still ends with status 0"
expect_eq "$(browser_log)" "" "a setting with blanks and options starts nothing"

mkdir -p "/run/panel-sandbox/browser dir"
cp "$PANEL_SANDBOX_BROWSER" "/run/panel-sandbox/browser dir/control"
settings browser_start_command='"/run/panel-sandbox/browser dir/control"'
panel_setup -b
expect_eq "$(browser_log)" '["/run/panel-sandbox/browser dir/control","start"]' "a path with a blank is one program"

clear_recorded
settings browser_start_command='""'
panel_setup -s
expect_eq "$?" 0 "an empty setting ends with status 0"
expect_eq "$(browser_log)" "" "an empty setting starts nothing"

# Anything but the three switches, compared whole and case-sensitively, selects
# the settings screen: it stops the browser first and then waits a second.
# (No display exists here, so the screen itself cannot come up.)
settings browser_start_command="\"$PANEL_SANDBOX_BROWSER\"" dhcp_enable=false ip_address='"192.168.1.10"' \
    ip_mask='"255.255.255.0"' ip_gateway='"192.168.1.1"'
for argument in -Q -qq --q q -bs ""; do
    clear_recorded
    ip addr flush dev eth0
    QT_QPA_EGLFS_INTEGRATION=none timeout 5 "${TARGET_RUN[@]}" "$DEVICE/panel-setup" "$argument" > /dev/null 2>&1
    expect_eq "$(recorded | head -1)" "[\"$PANEL_SANDBOX_BROWSER\",\"stop\"]" "'$argument' selects the settings screen"
done

finish
