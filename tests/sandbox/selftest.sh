#!/bin/bash
# The sandbox's own promises, checked from the host: it refuses to run anything
# when a stand-in is missing, isolates what it runs, runs several at once and
# leaves nothing behind, also when it is interrupted.
# Usage: selftest.sh PANEL_SANDBOX RECORDER [GUARD_PROBE]
# GUARD_PROBE: a program that only passes the C++ guard (sandbox-guard-probe).
set -u
sandbox=$1
recorder=$2
probe=${3:-}
failures=0
scratch=$(mktemp -d /tmp/panel-sandbox-selftest.XXXXXX)
trap 'rm -rf "$scratch"' EXIT

check() { # what command...
    local what=$1
    shift
    if "$@"; then echo "ok: $what"; else echo "FAIL: $what" >&2; failures=$((failures + 1)); fi
}

leftovers() { # namespaces or DHCP servers of sandboxes started by this test's shell
    ip netns list | grep -q "^psb$1x" || pgrep -f "dnsmasq.*$scratch" > /dev/null
}

host_before=$(ip -br addr; ip route; hostname)

guard=$(dirname "$(readlink -f "$0")")/sandboxguard.sh
mapfile -t standins < <(grep -v -e '^#' -e '^$' "$(dirname "$(readlink -f "$0")")/standins")
check "the stand-in list names date, hwclock and reboot" [ "${standins[*]}" = "/bin/date /sbin/hwclock /sbin/reboot" ]

for standin in "${standins[@]}"; do
    "$sandbox" --recorder "$recorder" --omit-standin "$standin" -- touch "$scratch/ran" 2> "$scratch/err"
    status=$?
    check "refuses without the stand-in for $standin (status $status)" [ "$status" = 125 ]
    check "ran nothing without the stand-in for $standin" [ ! -e "$scratch/ran" ]
    check "says why for $standin" grep -q "refusing to run: $standin" "$scratch/err"
done

# shellcheck disable=SC2016 # expanded by the shell inside the sandbox
inside=$("$sandbox" --recorder "$recorder" -- bash -c \
    'cat /sys/class/net/eth0/address; readlink /proc/self/ns/net; echo $$; hostname; /bin/date; /sbin/reboot; cat "$PANEL_SANDBOX_LOG"')
check "eth0 inside is the sandbox's veth" grep -qx "02:50:41:4e:45:4c" <<< "$inside"
check "the network namespace differs from the host's" bash -c "! grep -qx '$(readlink /proc/self/ns/net)' <<< '$inside'"
check "date and reboot only record" grep -qx '\["/bin/date"\]' <<< "$inside"
check "reboot is recorded too" grep -qx '\["/sbin/reboot"\]' <<< "$inside"

# A sandbox whose list of stand-ins is empty would place none.
mkdir "$scratch/unlisted"
cp "$sandbox" "$scratch/unlisted/panel-sandbox"
echo "# nothing" > "$scratch/unlisted/standins"
"$scratch/unlisted/panel-sandbox" --recorder "$recorder" -- touch "$scratch/ran" 2> /dev/null
status=$?
check "refuses with an empty list of stand-ins (status $status)" [ "$status" = 125 ]
check "ran nothing with an empty list of stand-ins" [ ! -e "$scratch/ran" ]

# The guards, the scripts' and the C++ one: each refuses on the host, passes
# inside, and refuses again inside once one stand-in is gone.
guards=("$guard")
[ -n "$probe" ] && guards+=("$probe")
for one in "${guards[@]}"; do
    name=$(basename "$one")
    PANEL_SANDBOX=1 PANEL_SANDBOX_RECORDER=$recorder "$one" > "$scratch/out" 2> /dev/null
    status=$?
    check "$name refuses on the host, whatever the environment says (status $status)" [ "$status" = 3 ]
    check "$name went no further on the host" [ ! -s "$scratch/out" ]
    "$sandbox" --recorder "$recorder" -- "$one" > /dev/null
    status=$?
    check "$name passes inside the sandbox (status $status)" [ "$status" = 0 ]
    for standin in "${standins[@]}"; do
        "$sandbox" --recorder "$recorder" -- bash -c "umount $standin && exec $one" > /dev/null 2>&1
        status=$?
        check "$name refuses inside without the stand-in for $standin (status $status)" [ "$status" = 3 ]
    done
done

# Two at once, each with its own eth0 and DHCP server.
for n in 1 2; do
    "$sandbox" --recorder "$recorder" -- bash -c '/sbin/ip link set eth0 up; /sbin/udhcpc -q -t3 -i eth0 > /dev/null 2>&1; ip -4 -o addr show dev eth0' > "$scratch/parallel$n" &
done
wait
for n in 1 2; do
    check "parallel sandbox $n got its own lease" grep -q '192\.168\.1\.1[0-9][0-9]/24' "$scratch/parallel$n"
done

# Interrupted: everything it made is gone.
"$sandbox" --recorder "$recorder" -- sleep 31 &
victim=$!
sleep 1
check "a running sandbox has its namespaces" bash -c "ip netns list | grep -q '^psb${victim}x'"
kill -TERM "$victim"
wait "$victim"
sleep 0.5
check "an interrupted sandbox leaves no namespace" bash -c "! ip netns list | grep -q '^psb${victim}x'"
check "an interrupted sandbox leaves no process" bash -c "! pgrep -f 'slee[p] 31' > /dev/null"
check "the host's addresses, routes and name are untouched" [ "$(ip -br addr; ip route; hostname)" = "$host_before" ]

echo "$failures failure(s)"
[ "$failures" = 0 ]
