#!/bin/bash
# Boot-time network set-up: "panel-setup -q" with static settings against a shell
# script that runs the same five commands, alternately, in one sandbox run.
# Prints the wall-time ratio and the peak resident memory of panel-setup -q.
# Usage: bench/headless-network.sh BUILD_DIR [ROUNDS]
set -eu
build=$(readlink -f "$1")
rounds=${2:-30}
here=$(dirname "$(readlink -f "$0")")
source "$here/sandboxed.sh"
bench_in_sandbox "$build" "$0" "$build" "$rounds"

device=$(mktemp -d /tmp/panel-bench.XXXXXX)
trap 'rm -rf "$device"' EXIT
cp "$build/setup/panel-setup" "$device/"
cat > "$device/settings.json" << 'JSON'
{"dhcp_enable": false, "ip_address": "192.168.1.10", "ip_mask": "255.255.255.0", "ip_gateway": "192.168.1.1"}
JSON
cat > "$device/same-commands.sh" << 'SH'
#!/bin/sh
/usr/bin/killall udhcpc
/sbin/ip a f dev eth0
/sbin/ip link set eth0 up
/sbin/ip a a 192.168.1.10/255.255.255.0 dev eth0
/sbin/ip r a default via 192.168.1.1 dev eth0
SH
chmod +x "$device/same-commands.sh"

now_ns() { date_ns=$(< /proc/uptime); echo "${date_ns%% *}"; }
elapsed() { # command...: seconds as a decimal, from /proc/uptime (no date program runs here)
    local start end
    start=$(now_ns)
    "$@" > /dev/null 2>&1
    end=$(now_ns)
    echo "$start $end" | awk '{printf "%.3f", $2 - $1}'
}

panel_total=0
script_total=0
peak_kb=0
for _ in $(seq "$rounds"); do
    panel_total=$(echo "$panel_total $(elapsed "$device/panel-setup" -q)" | awk '{print $1 + $2}')
    script_total=$(echo "$script_total $(elapsed "$device/same-commands.sh")" | awk '{print $1 + $2}')
    kb=$(/usr/bin/time -f %M "$device/panel-setup" -q 2>&1 > /dev/null | tail -1)
    [ "$kb" -gt "$peak_kb" ] && peak_kb=$kb
done
ip -4 -o addr show dev eth0 | grep -q '192.168.1.10/24' || echo "warning: eth0 did not end with the static address"
awk -v p="$panel_total" -v s="$script_total" -v n="$rounds" -v kb="$peak_kb" 'BEGIN {
    printf "rounds: %d\n", n
    printf "panel-setup -q:   %.1f ms per run\n", 1000 * p / n
    printf "shell script:     %.1f ms per run\n", 1000 * s / n
    printf "wall-time ratio panel-setup/script: %.2f (target at most 1.3)\n", p / s
    printf "peak RSS of panel-setup -q: %.1f MB (target at most 25 MB)\n", kb / 1024
}'
