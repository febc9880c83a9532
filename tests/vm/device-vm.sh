# shellcheck shell=bash
# The panel as a whole machine: Debian's 6.1 kernel under qemu-system-x86_64
# (software emulation), a virtio-gpu display driven through KMS, a virtio
# keyboard seen by the guest kernel, and a user-mode network whose only
# reachable server is the test's web server. Sourced by device-scenario.
#
# The guest's root is this host's root, read-only over 9p under a tmpfs
# overlay (device-init); the device image, the staged install tree, is shared
# writable at /opt/panel and keeps what the panel saves across a reboot.
#
# Operating it works as from outside the panel: pictures with QMP's
# screendump, keys with QMP's input-send-event, commands over the serial
# console.

VM_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
readonly VM_DIR
readonly VM_CACHE=${PANEL_VM_CACHE:-/var/cache/panel/vm}
# The drivers the guest loads from its initramfs (with their dependencies).
readonly VM_MODULES=(virtio_pci 9pnet_virtio 9p overlay virtio-gpu virtio_input evdev virtio_net)

log() { echo "device-vm: $*" >&2; }
die() { log "$*"; exit 1; }

# shellcheck source=tests/vm/vm-common.sh
. "$VM_DIR/vm-common.sh"

# vm_prepare: the kernel, its modules and busybox in $VM_CACHE/kernel-RELEASE,
# extracted once.
vm_prepare() {
    mkdir -p "$VM_CACHE"
    exec 8> "$VM_CACHE/.lock"
    flock 8
    kernel_release=
    kernel_version=
    resolve_kernel
    VM_KERNEL=$VM_CACHE/kernel-$kernel_release
    if [ ! -f "$VM_KERNEL/ready" ]; then
        log "preparing kernel $kernel_release ($kernel_version)"
        download_debs "linux-image-$kernel_release=$kernel_version" busybox-static
        rm -rf "$VM_KERNEL"
        mkdir -p "$VM_KERNEL"
        dpkg-deb -x "$VM_DEBS/linux-image-${kernel_release}_${kernel_version}_amd64.deb" "$VM_KERNEL"
        extract_busybox "$VM_KERNEL"
        "$VM_KERNEL/bin/busybox" depmod -b "$VM_KERNEL" "$kernel_release"
        touch "$VM_KERNEL/ready"
    fi
    flock -u 8
    VM_BUSYBOX=$VM_KERNEL/bin/busybox
}

# vm_stage_image BUILD OUT: the device image in OUT/image, the build's staged
# install tree, with settings made for the VM's network (DHCP on 10.0.2.0/24,
# router 10.0.2.2) and the command-line button.
vm_stage_image() {
    local build=$1 out=$2
    rm -rf "$out/image"
    DESTDIR=$out/image cmake --install "$build" > /dev/null
    [ -d "$out/image/opt/panel" ] ||
        die "$build installs elsewhere than the device image's /opt/panel (CMAKE_INSTALL_PREFIX)"
    cat > "$out/image/opt/panel/panel-setup/settings.json" << 'JSON'
{
    "browser_start_command": "/opt/panel/bin/kiosk-browser-control",
    "dhcp_enable": true,
    "ip_address": "10.0.2.20",
    "ip_gateway": "10.0.2.2",
    "ip_mask": "255.255.255.0",
    "serial_id_file_path": "/etc/serial",
    "show_cmd_button": true
}
JSON
}

# vm_boots: how many boots the guest has ended ("device: up" from rcS).
vm_boots() { tr -d '\r' < "$VM_RUN/serial.log" | grep -c '^device: up'; }

# vm_wait_boots COUNT TIMEOUT: until the guest has ended COUNT boots.
vm_wait_boots() {
    local deadline=$((SECONDS + $2))
    until [ "$(vm_boots)" -ge "$1" ]; do
        [ $SECONDS -lt "$deadline" ] || return 1
        sleep 2
    done
}

# vm_initrd IMAGE OUT: the initramfs, busybox, the modules and the device's
# boot files; /etc/eglfs.conf comes from the image's example.
vm_initrd() {
    local image=$1 out=$2 root modules=lib/modules/$kernel_release module line file
    root=$(mktemp -d)
    mkdir -p "$root"/{bin,dev,proc,sys,etc,"$modules"}
    cp "$VM_BUSYBOX" "$root/bin/"
    for module in "${VM_MODULES[@]}"; do
        line=$(grep -E "/${module//[-_]/[-_]}\.ko:" "$VM_KERNEL/$modules/modules.dep") ||
            die "no module $module in $kernel_release"
        for file in ${line%%:*} ${line#*:}; do
            mkdir -p "$root/$modules/$(dirname "$file")"
            cp "$VM_KERNEL/$modules/$file" "$root/$modules/$file"
        done
    done
    cp "$VM_KERNEL/$modules"/modules.{builtin,builtin.modinfo,order} "$root/$modules/"
    "$VM_BUSYBOX" depmod -b "$root" "$kernel_release"
    printf '%s\n' "${VM_MODULES[@]}" > "$root/etc/vm-modules"
    cp "$VM_DIR/device-init" "$root/init"
    cp -a "$VM_DIR/image" "$root/image"
    cp "$image/opt/panel/share/panel/eglfs.conf" "$root/image/etc/eglfs.conf"
    pack_cpio "$root" > "$out"
    rm -rf "$root"
}

# vm_start RUN IMAGE WWW WIDTHxHEIGHT: boots the machine in the background.
# RUN gets the sockets, serial.log and qemu.log; WWW is served at
# http://10.0.2.100/ by a web server started for each connection, on this
# host, outside the guest. restrict=on: the guest reaches nothing else.
vm_start() {
    VM_RUN=$1
    local image=$2 www=$3 size=$4
    vm_initrd "$image" "$VM_RUN/initrd"
    rm -f "$VM_RUN"/{serial.sock,qmp.sock,serial.log}
    qemu-system-x86_64 -accel tcg -cpu max -smp 2 -m 2048 -display none -vga none \
        -kernel "$VM_KERNEL/boot/vmlinuz-$kernel_release" -initrd "$VM_RUN/initrd" \
        -append "console=ttyS0 loglevel=4 panic=-1 rdinit=/init" \
        -device "virtio-gpu-pci,xres=${size%x*},yres=${size#*x}" -device virtio-keyboard-pci \
        -virtfs local,path=/,mount_tag=hostroot,security_model=none,readonly=on,multidevs=remap \
        -virtfs "local,path=$image/opt/panel,mount_tag=panel,security_model=none,multidevs=remap" \
        -netdev "user,id=net0,restrict=on,guestfwd=tcp:10.0.2.100:80-cmd:$VM_BUSYBOX httpd -i -h $www" \
        -device virtio-net-pci,netdev=net0 \
        -chardev "socket,id=ser0,path=$VM_RUN/serial.sock,server=on,wait=off,logfile=$VM_RUN/serial.log" \
        -serial chardev:ser0 -qmp "unix:$VM_RUN/qmp.sock,server=on,wait=off" \
        > "$VM_RUN/qemu.log" 2>&1 &
    VM_PID=$!
    local ticks=100
    until [ -S "$VM_RUN/qmp.sock" ] && [ -S "$VM_RUN/serial.sock" ]; do
        if ! kill -0 "$VM_PID" 2> /dev/null || [ $((ticks -= 1)) -le 0 ]; then
            die "qemu did not start: $(cat "$VM_RUN/qemu.log")"
        fi
        sleep 0.1
    done
}

vm_stop() {
    [ -n "${VM_PID:-}" ] || return 0
    kill "$VM_PID" 2> /dev/null && wait "$VM_PID" 2> /dev/null
    VM_PID=
}

# qmp COMMAND...: each a JSON command, after the capabilities handshake.
qmp() {
    { echo '{"execute":"qmp_capabilities"}'; printf '%s\n' "$@"; sleep 0.2; } |
        socat -t 5 - "UNIX-CONNECT:$VM_RUN/qmp.sock" | grep -v '"QMP"\|^{"return": {}}' || true
}

vm_shot() { # FILE
    qmp "{\"execute\":\"screendump\",\"arguments\":{\"filename\":\"$1\",\"format\":\"png\"}}" > /dev/null
    [ -s "$1" ]
}

# vm_key QCODE [MS]: presses a key on the guest's keyboard and releases it
# MS later (default 60); the guest kernel repeats a key held long enough.
vm_key() {
    local event='{"execute":"input-send-event","arguments":{"events":[{"type":"key","data":{"down":%s,"key":{"type":"qcode","data":"%s"}}}]}}'
    # shellcheck disable=SC2059
    { echo '{"execute":"qmp_capabilities"}'; printf "$event\n" true "$1"
        sleep "$(printf '%d.%03d' $((${2:-60} / 1000)) $((${2:-60} % 1000)))"
        printf "$event\n" false "$1"; sleep 0.2; } |
        socat -t 5 - "UNIX-CONNECT:$VM_RUN/qmp.sock" > /dev/null
}

# vm_run COMMAND [TIMEOUT]: runs a one-line shell command on the serial
# console and prints its output once it has ended; status 1 when it did not
# end in time.
vm_run() {
    local marker=$((RANDOM * 32768 + RANDOM)) start
    start=$(wc -l < "$VM_RUN/serial.log")
    # The marker goes in as "$((N))" (echoed so by the terminal) and comes out
    # as N, after the shell's prompt.
    # shellcheck disable=SC2016
    printf '%s\necho "@@$((%d))"\n' "$1" "$marker" | socat -t 1 - "UNIX-CONNECT:$VM_RUN/serial.sock" > /dev/null
    local ticks=$((${2:-60} * 5))
    until tail -n +"$((start + 1))" "$VM_RUN/serial.log" | tr -d '\r' | grep -q "@@$marker\$"; do
        [ $((ticks -= 1)) -gt 0 ] || return 1
        sleep 0.2
    done
    tail -n +"$((start + 1))" "$VM_RUN/serial.log" | tr -d '\r' | sed 's/^# //' | sed "/@@$marker\$/,\$d" |
        grep -vxF -e "$1" -e "echo \"@@\$(($marker))\"" || true
}

# How long vm_guest waits for a command by default, in seconds.
VM_GUEST_TIMEOUT=60

# vm_guest COMMAND [TIMEOUT]: vm_run's output; a console that does not answer
# ends the script. Also from a subshell ($(...), a pipeline), where an exit
# alone would leave the caller with a blank answer: the script is sent TERM,
# which it must trap to exit (its EXIT trap then stops the machine), and the
# subshell ends too.
vm_guest() {
    vm_run "$1" "${2:-$VM_GUEST_TIMEOUT}" && return 0
    log "the serial console did not answer \"$1\""
    kill -TERM $$
    exit 1
}

# vm_start_settings: starts the settings screen from the serial console, in a
# session of its own (setsid -f: no job for the console's shell to report).
vm_start_settings() {
    vm_guest 'setsid -f /opt/panel/panel-setup/panel-setup > /tmp/panel-setup.log 2>&1 < /dev/null' > /dev/null
}

# The test page, served to the guest's browsers: the whole display in one
# colour, VM_PAGE_COLOUR.
readonly VM_PAGE_COLOUR=30,144,255

# vm_write_page WWW [EXTRA_HEAD]: the page as WWW/index.html; EXTRA_HEAD goes
# at the end of its head.
vm_write_page() {
    printf '<!DOCTYPE html><html><head><meta charset="utf-8"><title>panel</title>%s%s</head><body></body></html>\n' \
        "<style>html,body{margin:0;height:100%;background:rgb($VM_PAGE_COLOUR)}</style>" "${2:-}" > "$1/index.html"
}

# colour_of FILE: "R,G,B" when the whole picture is that one colour.
colour_of() {
    convert "$1" -format '%k %[fx:int(255*p{0,0}.r)],%[fx:int(255*p{0,0}.g)],%[fx:int(255*p{0,0}.b)]' info: |
        sed -n 's/^1 //p'
}

# vm_shows_colour R,G,B FILE: whether the whole display shows the colour now;
# the picture is kept in FILE.
vm_shows_colour() {
    vm_shot "$2" && [ "$(colour_of "$2")" = "$1" ]
}

# vm_wait_colour R,G,B TIMEOUT FILE: until the whole display shows the colour;
# FILE keeps the last picture looked at.
vm_wait_colour() {
    local deadline=$((SECONDS + $2))
    while [ $SECONDS -lt "$deadline" ]; do
        vm_shows_colour "$1" "$3" && return 0
        sleep 2
    done
    return 1
}

# vm_wait_stable FILE TIMEOUT: until two pictures a second apart are the same.
vm_wait_stable() {
    local deadline=$((SECONDS + $2)) previous=$1.previous.png
    vm_shot "$previous" || return 1
    while [ $SECONDS -lt "$deadline" ]; do
        sleep 1
        vm_shot "$1" || return 1
        [ "$(compare -metric AE "$1" "$previous" null: 2>&1)" = 0 ] && { rm -f "$previous"; return 0; }
        mv "$1" "$previous"
    done
    mv "$previous" "$1"
    return 1
}
