#!/bin/bash
# On the device machine (tests/vm: an emulated x86-64 machine, its KMS display
# drawn by Mesa's llvmpipe), kiosk-browser beside Debian's cog on its DRM
# platform, the same page from the same server: the time from launch to the
# page on the display (screendumps polled) and the summed PSS of each
# browser's processes once the page is up; and the settings screen's time from
# start to its first frame. Prints every launch, the medians and the ratios;
# passes or fails nothing. Installs Debian's cog if it is missing.
#
# Usage: bench/device-vm.sh BUILD_DIR [ROUNDS [WIDTHxHEIGHT]]   (3 rounds, 1024x600)
# Commands for the guest are single-quoted on purpose: they expand there.
# shellcheck disable=SC2016
set -euo pipefail
build=$(readlink -f "$1")
rounds=${2:-3}
size=${3:-1024x600}
out=$build/bench/device-vm
# Both browsers draw the page as on the panel: the device image's environment
# (/etc/panel-env) and the same address.
readonly url=http://10.0.2.100/

if [ ! -x /usr/bin/cog ]; then
    apt-get -o DPkg::Lock::Timeout=600 update -q
    DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 install -y -q --no-install-recommends cog
fi
# shellcheck source=/dev/null # written by CMake into the build folder
source "$build/panel-sandbox.env"
# shellcheck source=tests/vm/device-vm.sh
source "$PANEL_DEVICE_VM"

rm -rf "$out"
mkdir -p "$out/www"
trap 'vm_stop' EXIT
trap 'exit 1' INT TERM
vm_write_page "$out/www"
# Commands on the serial console wait longer than usual: the browsers'
# start-up keeps the emulated machine busy.
VM_GUEST_TIMEOUT=120
now_ms() { date +%s%3N; }

# gone NAMES: until no process of these names is left in the guest.
gone() {
    local deadline=$((SECONDS + 60))
    while [ -n "$(vm_guest "pidof $1")" ]; do
        [ $SECONDS -lt "$deadline" ] || die "$1 still running after a minute"
        sleep 1
    done
}

# Until the display no longer shows the page (the text console is back), so
# that the next launch is timed from a display without the page.
page_off() {
    local deadline=$((SECONDS + 60))
    while vm_shows_colour "$VM_PAGE_COLOUR" "$out/off.png"; do
        [ $SECONDS -lt "$deadline" ] || die "the page stayed on the display after its browser ended"
        sleep 1
    done
}

# pss NAMES: the summed PSS (KiB) of every process of these names.
pss() {
    vm_guest "for p in \$(pidof $1); do cat /proc/\$p/smaps_rollup; done | awk '/^Pss:/ {s += \$2} END {print s}'"
}

# launch NAME "COMMAND" "PROCESS NAMES": one launch; prints "NAME MS KIB".
launch() {
    local name=$1 command=$2 processes=$3 start shot=$out/$1-$round.png
    page_off
    start=$(now_ms)
    # setsid -f: a session of its own, and no job for the console's shell to report.
    vm_guest "setsid -f $command > /tmp/$name.log 2>&1 < /dev/null" > /dev/null
    until vm_shows_colour "$VM_PAGE_COLOUR" "$shot"; do
        [ $(($(now_ms) - start)) -lt 300000 ] || die "$name showed no page in 5 minutes"
        sleep 0.2
    done
    local shown=$(($(now_ms) - start))
    # Settled: the engine's start-up work is over.
    sleep 10
    echo "$name $shown $(pss "$processes")"
    vm_guest "kill \$(pidof ${processes%% *})" > /dev/null
    gone "$processes"
}

# The settings screen from its start to its first frame (light where the
# console is dark); includes its one-second pause after stopping the browser.
settings_start() {
    local start shot=$out/settings-$round.png mean
    start=$(now_ms)
    vm_start_settings
    while :; do
        vm_shot "$shot" && mean=$(convert "$shot" -format '%[fx:int(100*mean)]' info:) && [ "$mean" -gt 80 ] &&
            break
        [ $(($(now_ms) - start)) -lt 120000 ] || die "no settings screen in 2 minutes"
        sleep 0.2
    done
    echo "settings $(($(now_ms) - start))"
    vm_guest 'kill $(pidof panel-setup)' > /dev/null
    gone panel-setup
}

vm_prepare
vm_stage_image "$build" "$out"
log "booting $kernel_release, display $size"
vm_start "$out" "$out/image" "$out/www" "$size"
vm_wait_boots 1 300 || die "the guest did not boot"
vm_wait_colour "$VM_PAGE_COLOUR" 300 "$out/boot-page.png" || die "the device's own browser showed no page"
vm_guest '/opt/panel/bin/kiosk-browser-control stop' > /dev/null
gone 'kiosk-browser QtWebEngineProcess'
echo "# cog $(dpkg-query -W -f='${Version}' cog), $(vm_guest 'cat /proc/cpuinfo' | grep -c '^processor') CPUs," \
    "display $size; round 0 warms the caches and is not counted"

results=$out/results
: > "$results"
browser() { # NAME: one launch of that browser
    case $1 in
        kiosk-browser) launch kiosk-browser "/opt/panel/bin/kiosk-browser $url" "kiosk-browser QtWebEngineProcess" ;;
        cog) launch cog "cog --platform=drm $url" "cog WPEWebProcess WPENetworkProcess" ;;
    esac
}
for round in $(seq 0 "$rounds"); do
    order=(kiosk-browser cog)
    [ $((round % 2)) = 0 ] || order=(cog kiosk-browser)
    for name in "${order[@]}" settings; do
        if [ "$name" = settings ]; then
            line=$(settings_start)
        else
            line=$(browser "$name")
        fi
        echo "round $round: $line"
        [ "$round" = 0 ] || echo "$line" >> "$results"
    done
done

median() { # NAME FIELD
    awk -v n="$1" -v f="$2" '$1 == n {print $f}' "$results" | sort -n |
        awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : int((v[NR / 2] + v[NR / 2 + 1]) / 2)}'
}
kiosk_ms=$(median kiosk-browser 2)
cog_ms=$(median cog 2)
kiosk_kib=$(median kiosk-browser 3)
cog_kib=$(median cog 3)
echo "# medians of $rounds rounds"
awk -v km="$kiosk_ms" -v cm="$cog_ms" -v kk="$kiosk_kib" -v ck="$cog_kib" 'BEGIN {
    printf "%-14s %8s %10s\n", "browser", "page ms", "PSS MiB"
    printf "%-14s %8d %10.1f\n", "kiosk-browser", km, kk / 1024
    printf "%-14s %8d %10.1f\n", "cog", cm, ck / 1024
    printf "kiosk-browser / cog: page time %.2f, PSS %.2f\n", km / cm, kk / ck
}'
echo "settings screen, start to first frame: $(median settings 2) ms (its one-second pause included)"
