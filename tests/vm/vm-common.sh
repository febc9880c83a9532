# shellcheck shell=bash
# What every virtual machine of the tests shares: Debian bookworm's 6.1 kernel
# and a static busybox, fetched from Debian's archive with apt-get download
# into one package folder (nothing is installed on this host), and the packing
# of an initramfs. Sourced by the GPIO module's runner
# (gpio-extension/test/vm/run-vm) and the device machine (device-vm.sh); the
# caller defines log and die.

# Sets kernel_release and kernel_version to Debian bookworm's current 6.1
# kernel, e.g. "6.1.0-57-amd64" at "6.1.192-3".
# shellcheck disable=SC2034 # both are the caller's
resolve_kernel() {
    local image
    image=$(apt-cache depends linux-image-amd64 2> /dev/null |
        sed -n 's/^ *Depends: \(linux-image-6\.1\.0-[0-9]*-amd64\)$/\1/p' | head -n 1)
    if [ -z "$image" ]; then
        log "no package lists yet: apt-get update"
        apt-get -o DPkg::Lock::Timeout=600 update -q >&2
        image=$(apt-cache depends linux-image-amd64 |
            sed -n 's/^ *Depends: \(linux-image-6\.1\.0-[0-9]*-amd64\)$/\1/p' | head -n 1)
    fi
    [ -n "$image" ] || die "cannot find Debian's 6.1 kernel package"
    kernel_release=${image#linux-image-}
    kernel_version=$(apt-cache show --no-all-versions "$image" | sed -n 's/^Version: //p' | head -n 1)
}

# The packages both machines take from Debian's archive, fetched once for both.
VM_DEBS=${PANEL_VM_DEBS:-/var/cache/panel/debs}

# download_debs PACKAGE[=VERSION]...: fetches the packages' .deb files into
# $VM_DEBS, skipping those already there; one download at a time.
download_debs() {
    mkdir -p "$VM_DEBS"
    (
        flock 7
        local package wanted=()
        for package in "$@"; do
            local name=${package%%=*} version='*'
            [ "$name" = "$package" ] || version=${package#*=}
            compgen -G "$VM_DEBS/${name}_${version//:/%3a}_*.deb" > /dev/null || wanted+=("$package")
        done
        [ ${#wanted[@]} -eq 0 ] ||
            (cd "$VM_DEBS" && apt-get download -q -o APT::Sandbox::User=root "${wanted[@]}" >&2)
    ) 7> "$VM_DEBS/.lock"
}

# extract_busybox DEST: DEST/bin/busybox from the newest busybox-static
# package in $VM_DEBS.
extract_busybox() {
    local packages=("$VM_DEBS"/busybox-static_*_amd64.deb)
    dpkg-deb --fsys-tarfile "${packages[-1]}" | tar -x -C "$1" ./bin/busybox
}

# pack_cpio DIR: the folder as an uncompressed initramfs archive, on stdout.
pack_cpio() {
    (cd "$1" && find . | cpio -o -H newc --quiet)
}
