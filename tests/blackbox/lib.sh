# shellcheck shell=bash
# Shared pieces of the black-box scripts: a scratch "device" folder with its own
# panel-setup, settings.json and header.txt, with the assertions of checks.sh.
# Usage: source lib.sh PANEL_SETUP_BINARY
set -u

"$(dirname "${BASH_SOURCE[0]}")/../sandbox/sandboxguard.sh" || exit 3
source "$(dirname "${BASH_SOURCE[0]}")/checks.sh"

readonly PANEL_SETUP_BUILT=$1
DEVICE=$(mktemp -d /tmp/panel-device.XXXXXX)
trap 'rm -rf "$DEVICE"' EXIT
cp "$PANEL_SETUP_BUILT" "$DEVICE/panel-setup"

# settings KEY=JSON-VALUE ...: writes settings.json from raw JSON values.
settings() {
    local members=() pair
    for pair in "$@"; do
        members+=("\"${pair%%=*}\": ${pair#*=}")
    done
    local IFS=,
    printf '{%s}\n' "${members[*]}" > "$DEVICE/settings.json"
}

panel_setup() {
    "${TARGET_RUN[@]}" "$DEVICE/panel-setup" "$@" 2> "$DEVICE/last.log"
}

# wait_for SECONDS COMMAND...: polls until the command succeeds.
wait_for() {
    local deadline=$((SECONDS + $1))
    shift
    until "$@"; do
        [ $SECONDS -ge $deadline ] && return 1
        sleep 0.1
    done
}

recorded() {
    cat "$PANEL_SANDBOX_LOG"
}

clear_recorded() {
    : > "$PANEL_SANDBOX_LOG"
}

ipv4_of_eth0() {
    ip -4 -o addr show dev eth0 | awk '{print $4}' | sort | tr '\n' ' ' | sed 's/ $//'
}
