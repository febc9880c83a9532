#!/bin/bash
# "-q" brings eth0 up from the saved settings, without a display.
source "$(dirname "$0")/lib.sh" "$1"

settings dhcp_enable=false ip_address='"192.168.1.10"' ip_mask='"255.255.255.0"' ip_gateway='"192.168.1.1"'

# Static: address with its netmask, and the default route.
panel_setup -q
expect_eq "$(ipv4_of_eth0)" "192.168.1.10/24" "static address and netmask on eth0"
expect_eq "$(ip route show default)" "default via 192.168.1.1 dev eth0 " "default route via the gateway"
first_state="$(ip -4 addr show dev eth0; ip route)"
panel_setup -q
panel_setup -q extra arguments are ignored
expect_eq "$(ip -4 addr show dev eth0; ip route)" "$first_state" "repeated runs end in the same state"
# The program's own queries see the same: the next start logs them.
expect_contains "$(cat "$DEVICE/last.log")" "currIpAddress[192.168.1.10] currNetMask[255.255.255.0]" \
    "the program's queries read the static address back"

# DHCP: returns at once, the client gets a lease in the background.
check_dhcp_client() { # expected-hostname-argument
    local started=$SECONDS
    panel_setup -q
    if [ $((SECONDS - started)) -le 2 ]; then
        pass "-q with DHCP returns at once"
    else
        fail "-q with DHCP took $((SECONDS - started)) s"
    fi
    if wait_for 10 bash -c 'ip -4 -o addr show dev eth0 | grep -q "192\.168\.1\.1[0-9][0-9]/24"'; then
        pass "a lease from the DHCP server arrives"
    else
        fail "no lease within 10 s: $(ipv4_of_eth0)"
    fi
    # After the lease the client moves to the background and rewrites its pid file.
    local cmdline="" _
    for _ in $(seq 50); do
        cmdline=$(tr '\0' '\n' < "/proc/$(cat /var/run/udhcpc.eth0.pid 2> /dev/null)/cmdline" 2> /dev/null)
        [ -n "$cmdline" ] && break
        sleep 0.1
    done
    expect_eq "$cmdline" "/sbin/udhcpc
-t1
-A3
-b
-R
-O
search
-O
staticroutes
-p
/var/run/udhcpc.eth0.pid
-i
eth0
-b
-x
$1" "the DHCP client runs with exactly the 15 arguments ($1)"
    expect_eq "$(ip route show default | awk '{print $3}')" "192.168.1.1" "the lease brings the router as default route"
}
settings dhcp_enable=true
check_dhcp_client "hostname:panel"
echo > /proc/sys/kernel/hostname
check_dhcp_client "hostname:"
printf 'panel' > /proc/sys/kernel/hostname
expect_eq "$(pgrep -c -x udhcpc)" "1" "only one DHCP client runs after a second start"

# DHCP, then static: no client left, the leased address gone.
settings dhcp_enable=false ip_address='"192.168.1.10"' ip_mask='"255.255.255.0"' ip_gateway='"192.168.1.1"'
panel_setup -q
expect_eq "$(pgrep -c -x udhcpc)" "0" "no DHCP client is left after switching to static"
expect_eq "$(ipv4_of_eth0)" "192.168.1.10/24" "the leased address is gone, the static one is there"
sleep 1
expect_eq "$(ipv4_of_eth0)" "192.168.1.10/24" "the static address stays after the client has gone"

# The start-up log carries the loaded values, after the load rules: a text
# "true" is no boolean (so this run is static), the serial is cut to 20
# characters, line feeds are removed.
printf 'Цех 3\nЛиния 2\n' > "$DEVICE/header.txt"
printf 'SN-ABCDEFGHIJKLMNOPQRSTUVWXYZ\n' > "$DEVICE/serial"
settings dhcp_enable='"true"' ip_address='"192.168.1.11"' ip_mask='"255.255.255.0"' ip_gateway='"192.168.1.1"' \
    serial_id_file_path="\"$DEVICE/serial\""
panel_setup -q
log=$(cat "$DEVICE/last.log")
expect_contains "$log" '_textHeaderValue1: "Цех 3"' "the log carries header line 1"
expect_contains "$log" '_textHeaderValue2: "Линия 2"' "the log carries header line 2"
expect_contains "$log" "_serialIdFilePath[$DEVICE/serial] _serialIdValue[SN-ABCDEFGHIJKLMNOPQ]" "the log carries the serial, cut to 20"
expect_contains "$log" '_dhcpEnable: false' "a text \"true\" is not a boolean"
expect_eq "$(ipv4_of_eth0)" "192.168.1.11/24" "so the static address is applied"

finish
