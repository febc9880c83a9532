#!/bin/bash
# Every setting reaches the system programs as exactly one argument, whatever
# it holds: blanks, quotes, semicolons, 200 characters. Inside this sandbox the
# network programs themselves are replaced by the recording stand-in too.
source "$(dirname "$0")/lib.sh" "$1"

for program in /sbin/ip /usr/bin/killall /sbin/udhcpc; do
    mount --bind "$PANEL_SANDBOX_RECORDER" "$program" || fail "cannot record $program"
done

json_escape() {
    local text=${1//\\/\\\\}
    printf '%s' "${text//\"/\\\"}"
}

long=$(printf 'x%.0s' $(seq 200))
address='192.168.1.10; /sbin/reboot'
mask='255.255.255.0 "quoted"'
settings dhcp_enable=false ip_address="\"$(json_escape "$address")\"" ip_mask="\"$(json_escape "$mask")\"" \
    ip_gateway="\"$long\""
clear_recorded
panel_setup -q
expect_eq "$(recorded)" "[\"/usr/bin/killall\",\"udhcpc\"]
[\"/sbin/ip\",\"a\",\"f\",\"dev\",\"eth0\"]
[\"/sbin/ip\",\"link\",\"set\",\"eth0\",\"up\"]
[\"/sbin/ip\",\"a\",\"a\",\"$(json_escape "$address/$mask")\",\"dev\",\"eth0\"]
[\"/sbin/ip\",\"r\",\"a\",\"default\",\"via\",\"$long\",\"dev\",\"eth0\"]" "static mode: five commands, each value one argument"

settings dhcp_enable=false ip_address='"192.168.1.10"' ip_mask='"255.255.255.0"'
clear_recorded
panel_setup -q
expect_eq "$(recorded | tail -1)" '["/sbin/ip","r","a","default","via","","dev","eth0"]' \
    "an empty gateway still runs the route command, with an empty argument"

# shellcheck disable=SC2016 # the $( ) is part of the name, never run
hostname='pa nel"x;y $(reboot)'
printf '%s' "$hostname" > /proc/sys/kernel/hostname
settings dhcp_enable=true
clear_recorded
panel_setup -q
sleep 0.3 # the client is started detached
expect_eq "$(recorded | tail -1)" "[\"/sbin/udhcpc\",\"-t1\",\"-A3\",\"-b\",\"-R\",\"-O\",\"search\",\"-O\",\"staticroutes\",\"-p\",\"/var/run/udhcpc.eth0.pid\",\"-i\",\"eth0\",\"-b\",\"-x\",\"hostname:$(json_escape "$hostname")\"]" \
    "DHCP mode: the host name with blanks and quotes is one argument"
expect_eq "$(recorded | wc -l)" 4 "DHCP mode: killall, flush, link up, client"

finish
