#!/bin/bash
# The project's one entry script: installs what the project needs on a fresh Debian 12
# machine, builds, tests and shows the panel.
#
#   ./run.sh demo     the panel's main job: the settings program in the test sandbox
#   ./run.sh test     install, build and run every test suite (what CI runs)
#   ./run.sh deps     install the build and test dependencies only
#   ./run.sh build    configure and build into $PANEL_BUILD_DIR (default: build/)
#   ./run.sh sanitize the Qt test suite built with ASan and UBSan (build-sanitize/)
#   ./run.sh armhf    cross-build for the panel (armhf, build-armhf/) and run the suite under qemu-user
#   ./run.sh package  cross-build and pack the device image's tarball (build-armhf/operator-panel-*-armhf.tar.gz)
#
# Installing is idempotent: packages already present are not fetched again, and
# nothing is downloaded from anywhere but Debian's archive and the npm registry.
set -euo pipefail

cd "$(dirname "$(readlink -f "$0")")"
readonly SOURCE_DIR=$PWD
readonly BUILD_DIR=${PANEL_BUILD_DIR:-$SOURCE_DIR/build}
readonly JOBS=${PANEL_JOBS:-$(nproc)}

# Debian packages, per component.
readonly PACKAGES_BUILD=(cmake g++ make pkgconf qtbase5-dev qtbase5-dev-tools)
readonly PACKAGES_SANDBOX=(iproute2 util-linux psmisc dnsmasq-base udhcpc procps hostname)
readonly PACKAGES_SCREENS=(fonts-dejavu-core xvfb xauth x11-apps imagemagick libgl1-mesa-dri libegl-mesa0 xdotool)
readonly PACKAGES_BROWSER=(qtwebengine5-dev libx11-dev)
readonly PACKAGES_GPIO=(libgpiod-dev qemu-system-x86 cpio xz-utils gcc-12 make libelf1 libssl3)
readonly PACKAGES_BENCH=(valgrind time cog weston)
# The panel's own architecture, beside this host's (multiarch): installed only by
# the armhf commands and by test.
readonly PACKAGES_ARMHF=(crossbuild-essential-armhf qtbase5-dev:armhf qtwebengine5-dev:armhf
    libgpiod-dev:armhf pkgconf:armhf libatomic1:armhf qemu-user-static)

# install_dependencies [armhf]: one apt-get update at most, and only when a
# package is missing; with "armhf" the panel's architecture comes along.
install_dependencies() {
    local wanted=("${PACKAGES_BUILD[@]}" "${PACKAGES_SANDBOX[@]}" "${PACKAGES_SCREENS[@]}"
        "${PACKAGES_BROWSER[@]}" "${PACKAGES_GPIO[@]}" "${PACKAGES_BENCH[@]}")
    if [ "${1:-}" = armhf ]; then
        wanted+=("${PACKAGES_ARMHF[@]}")
        if ! dpkg --print-foreign-architectures | grep -qx armhf; then
            echo "Adding the armhf architecture"
            dpkg --add-architecture armhf
        fi
    fi
    local missing=()
    local package
    for package in "${wanted[@]}"; do
        dpkg-query -W -f='${Status}' "$package" 2> /dev/null | grep -q 'install ok installed' ||
            missing+=("$package")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        echo "Installing: ${missing[*]}"
        apt-get -o DPkg::Lock::Timeout=600 update -q
        DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 install -y -q \
            --no-install-recommends "${missing[@]}"
    fi
}

build() {
    cmake -S "$SOURCE_DIR" -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
    cmake --build "$BUILD_DIR" --parallel "$JOBS"
}

# Runs one CTest suite and adds its counts to the totals printed at the end.
passed_total=0
failed_total=0
run_suite() { # build-dir [ctest options...]
    local log
    log=$(mktemp)
    local status=0
    ctest --test-dir "$1" --output-on-failure --parallel "$JOBS" --timeout 900 "${@:2}" | tee "$log" || status=$?
    local counts
    counts=$(sed -n 's/^[0-9]*% tests passed, \([0-9]*\) tests\{0,1\} failed out of \([0-9]*\)$/\1 \2/p' "$log" | tail -1)
    rm -f "$log"
    if [ -z "$counts" ]; then
        failed_total=$((failed_total + 1))
        return
    fi
    local failed=${counts% *} total=${counts#* }
    passed_total=$((passed_total + total - failed))
    failed_total=$((failed_total + failed))
    [ "$status" = 0 ] || [ "$failed" != 0 ] || failed_total=$((failed_total + 1))
}

print_totals() {
    echo "suites: $passed_total passed, $failed_total failed"
    [ "$failed_total" = 0 ]
}

run_tests() {
    run_suite "$BUILD_DIR"
    run_sanitized_suite
    run_armhf_suite
    print_totals
}

# The Qt test suite once more, built with AddressSanitizer and
# UndefinedBehaviorSanitizer. Any report ends the test binary with a failure, so
# a passing run is a clean one. Only Qt's own start-up leaks of the offscreen
# platform are suppressed.
readonly SANITIZE_BUILD_DIR=${PANEL_SANITIZE_BUILD_DIR:-$SOURCE_DIR/build-sanitize}
run_sanitized_suite() {
    cmake -S "$SOURCE_DIR" -B "$SANITIZE_BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPANEL_SANITIZE=ON \
        -DPANEL_BUILD_BROWSER=OFF -DPANEL_BUILD_GPIO=OFF
    cmake --build "$SANITIZE_BUILD_DIR" --parallel "$JOBS"
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:halt_on_error=1 \
        LSAN_OPTIONS=suppressions=$SOURCE_DIR/tests/sanitizer/lsan.supp:print_suppressions=0 \
        UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
        run_suite "$SANITIZE_BUILD_DIR" --tests-regex '^tst_'
}

# The panel's build: armhf, cross-compiled with cmake/armhf.cmake, installed
# under /opt/panel on the device.
readonly ARMHF_BUILD_DIR=${PANEL_ARMHF_BUILD_DIR:-$SOURCE_DIR/build-armhf}
readonly ARMHF_PREFIX=/opt/panel
build_armhf() {
    cmake -S "$SOURCE_DIR" -B "$ARMHF_BUILD_DIR" -DCMAKE_TOOLCHAIN_FILE="$SOURCE_DIR/cmake/armhf.cmake" \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX="$ARMHF_PREFIX"
    cmake --build "$ARMHF_BUILD_DIR" --parallel "$JOBS"
}

# The suite again, the armhf programs under qemu-user (tests/emulation). Left
# out: the operator session on eglfs, whose steering times its key holds for
# the pointer's 16 ms ticks at native speed; under emulation a tick takes many
# times longer and the pointer falls short on every look. The same session in
# an X window runs.
run_armhf_suite() {
    build_armhf
    run_suite "$ARMHF_BUILD_DIR" --exclude-regex '^blackbox-operator-session$'
}

# The device image's tarball: the armhf install tree, stripped, to be unpacked
# at the image's root.
package_armhf() {
    build_armhf
    local staging=$ARMHF_BUILD_DIR/package-root
    local version
    version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$ARMHF_BUILD_DIR/CMakeCache.txt")
    local tarball=$ARMHF_BUILD_DIR/operator-panel-$version-armhf.tar.gz
    rm -rf "$staging"
    DESTDIR=$staging cmake --install "$ARMHF_BUILD_DIR" --strip
    tar -C "$staging" --owner=0 --group=0 --numeric-owner --sort=name -czf "$tarball" "${ARMHF_PREFIX#/}"
    tar -tzvf "$tarball"
    echo "Device image tarball: $tarball"
}

demo() {
    "$SOURCE_DIR/tests/demo/panel-demo" "$BUILD_DIR"
}

case "${1:-}" in
    deps) install_dependencies armhf ;;
    build) install_dependencies; build ;;
    test) install_dependencies armhf; build; run_tests ;;
    sanitize) install_dependencies; run_sanitized_suite; print_totals ;;
    demo) install_dependencies; build; demo ;;
    armhf) install_dependencies armhf; run_armhf_suite; print_totals ;;
    package) install_dependencies armhf; package_armhf ;;
    *) sed -n '2,14p' "$0" | sed 's/^# \{0,1\}//'; exit 2 ;;
esac
