#!/bin/bash
# Switching from DHCP to static while the DHCP client releases its lease slowly
# (the sandbox delays its deconfiguration script by several seconds, as a busy
# device can): "-q" waits for the client to end, so the static address and
# route survive the client's late flush of eth0.
source "$(dirname "$0")/lib.sh" "$1"

for round in 1 2; do
    settings dhcp_enable=true
    panel_setup -q
    wait_for 30 bash -c 'ip -4 -o addr show dev eth0 | grep -q "192\.168\.1\.1[0-9][0-9]/24"' ||
        fail "round $round: no lease"
    settings dhcp_enable=false ip_address='"192.168.1.10"' ip_mask='"255.255.255.0"' ip_gateway='"192.168.1.1"'
    panel_setup -q
    expect_eq "$?" "0" "round $round: -q ends with status 0"
    expect_eq "$(pgrep -c -x udhcpc)" "0" "round $round: the slow client has ended before the static set-up"
    sleep 4 # a client left running would flush eth0 by now
    expect_eq "$(ipv4_of_eth0)" "192.168.1.10/24" "round $round: the static address survives the release"
    expect_eq "$(ip route show default)" "default via 192.168.1.1 dev eth0 " "round $round: so does the route"
done

finish
