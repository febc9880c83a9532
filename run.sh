#!/bin/bash
# The project's one entry script: installs what the project needs on a fresh Debian 12
# machine, builds, tests and shows the panel.
#
#   ./run.sh demo     the panel's main job: the settings program in the test sandbox
#   ./run.sh test     install, build and run every test suite (what CI runs)
#   ./run.sh check    the everyday loop: build, the tests that need no root, sandbox,
#                     VM or emulation, clang-format (dry run), shellcheck, tsc
#   ./run.sh deps     install the build and test dependencies only
#   ./run.sh build    configure and build into $PANEL_BUILD_DIR (default: build/)
#   ./run.sh format   apply .clang-format to the C and C++ sources
#   ./run.sh sanitize the Qt test suite built with ASan and UBSan (build-sanitize/)
#   ./run.sh armhf    cross-build for the panel (armhf, build-armhf/) and run the suite under qemu-user
#   ./run.sh package  cross-build and pack the device image's tarball (build-armhf/operator-panel-*-armhf.tar.gz)
#   ./run.sh bench [NAME...]  build with the benchmarks and run them (all, or startup,
#                     headless-network, pointer-filter, pointer-hold, browser, gpio, device-vm)
#   ./run.sh device-vm [WIDTHxHEIGHT]  the whole panel in an emulated machine with a KMS display
#                     (default 1024x600); pictures in $PANEL_BUILD_DIR/device-vm/
#
# Installing is idempotent: packages already present are not fetched again, and
# nothing is downloaded from anywhere but Debian's archive and the npm registry.
set -euo pipefail

cd "$(dirname "$(readlink -f "$0")")"
readonly SOURCE_DIR=$PWD
readonly BUILD_DIR=${PANEL_BUILD_DIR:-$SOURCE_DIR/build}
readonly JOBS=${PANEL_JOBS:-$(nproc)}

# Debian packages, per component.
readonly PACKAGES_BUILD=(cmake g++ make pkgconf qtbase5-dev qtbase5-dev-tools qtbase5-private-dev)
readonly PACKAGES_SANDBOX=(iproute2 util-linux psmisc dnsmasq-base udhcpc procps hostname)
readonly PACKAGES_SCREENS=(fonts-dejavu-core xvfb xauth x11-apps imagemagick libgl1-mesa-dri libegl-mesa0 xdotool)
readonly PACKAGES_BROWSER=(qtwebengine5-dev libx11-dev)
readonly PACKAGES_GPIO=(libgpiod-dev qemu-system-x86 cpio xz-utils gcc-12 make libelf1 libssl3)
readonly PACKAGES_VM=(qemu-system-x86 cpio socat imagemagick)
# The browser benchmark installs chromium, cog and weston itself when it runs.
readonly PACKAGES_BENCH=(valgrind time)
readonly PACKAGES_CHECK=(clang-format shellcheck)
# The panel's own architecture, beside this host's (multiarch): installed only by
# the armhf commands and by test.
readonly PACKAGES_ARMHF=(crossbuild-essential-armhf qtbase5-dev:armhf qtbase5-private-dev:armhf qtwebengine5-dev:armhf
    libgpiod-dev:armhf pkgconf:armhf libatomic1:armhf qemu-user-static)

# install_dependencies [armhf]: one apt-get update at most, and only when a
# package is missing; with "armhf" the panel's architecture comes along.
install_dependencies() {
    local wanted=("${PACKAGES_BUILD[@]}" "${PACKAGES_SANDBOX[@]}" "${PACKAGES_SCREENS[@]}"
        "${PACKAGES_BROWSER[@]}" "${PACKAGES_GPIO[@]}" "${PACKAGES_VM[@]}" "${PACKAGES_BENCH[@]}"
        "${PACKAGES_CHECK[@]}")
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
    cmake -S "$SOURCE_DIR" -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPANEL_BUILD_BENCH=OFF "$@"
    cmake --build "$BUILD_DIR" --parallel "$JOBS"
}

# Runs one CTest suite and adds its counts to the totals printed at the end.
# The counts come from CTest's JUnit report, the verdict from its exit status:
# a suite that fails without a failed test (a CTest error) counts as one
# failure. As in CTest's own summary, a test skipped on purpose (its skip
# return code: status "notrun" with a SKIP_ message; or disabled: status
# "disabled") counts as passed; one that could not run (no executable, a
# failed fixture: "notrun" with another message) as failed.
passed_total=0
failed_total=0
run_suite() { # build-dir [ctest options...]
    local junit
    junit=$(mktemp)
    local status=0
    ctest --test-dir "$1" --output-on-failure --parallel "$JOBS" --timeout 900 --no-tests=error \
        --output-junit "$junit" "${@:2}" || status=$?
    local total passed
    total=$(tr '\n' ' ' < "$junit" | grep -o '<testsuite [^>]*>' | grep -o '[[:space:]]tests="[0-9]*"' |
        grep -o '[0-9]\+' || true)
    passed=$(grep -c -e '^[[:space:]]*<testcase [^>]* status="\(run\|disabled\)">' \
        -e '^[[:space:]]*<skipped message="SKIP_' "$junit" || true)
    rm -f "$junit"
    if [ -z "$total" ] || [ "$total" = 0 ]; then
        failed_total=$((failed_total + 1))
        return
    fi
    local failed=$((total - passed))
    passed_total=$((passed_total + passed))
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
# out: the operator sessions on eglfs (1024x600 and 800x480), whose steering
# times its key holds for the pointer's 16 ms ticks at native speed; under
# emulation a tick takes many times longer and the pointer falls short on every
# look. The same session in an X window runs.
run_armhf_suite() {
    build_armhf
    run_suite "$ARMHF_BUILD_DIR" --exclude-regex '^blackbox-operator-session(-800x480)?$'
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

# --- The everyday loop ---

# Tests with none of these labels need nothing but the build (tests/CMakeLists.txt).
readonly CHECK_EXCLUDED_LABELS='sandbox|root|vm|emulation'
# The C and C++ sources clang-format looks after: everything tracked.
c_sources() {
    git -C "$SOURCE_DIR" ls-files -z '*.c' '*.cc' '*.cpp' '*.h'
}
# Our shell scripts; files with a shebang or an .sh name.
shell_scripts() {
    local file
    git -C "$SOURCE_DIR" ls-files | while read -r file; do
        [ -f "$file" ] || continue
        case "$file" in
            *.sh) echo "$file" ;;
            *.in | *.c | *.cc | *.cpp | *.h | *.js | *.ts | *.json | *.md | *.txt | *.png | *.supp) ;;
            *) head -c 64 "$file" | grep -qE '^#!/bin/((ba)?sh|busybox sh)' && echo "$file" ;;
        esac
    done
}

check_step_results=()
check_step() { # name command...: runs one step, notes its verdict
    local name=$1
    shift
    echo "=== check: $name"
    if "$@"; then
        check_step_results+=("$name: ok")
    else
        check_step_results+=("$name: FAILED")
    fi
}

check_format() {
    local report files
    report=$(c_sources | xargs -0 clang-format --dry-run 2>&1)
    files=$(sed -n 's/^\([^:]*\):[0-9]*:[0-9]*: warning: code should be clang-formatted.*/\1/p' <<< "$report" | sort -u)
    if [ -z "$files" ]; then
        echo "every C and C++ source follows .clang-format"
        return 0
    fi
    local places count
    places=$(grep -c 'warning: code should be clang-formatted' <<< "$report")
    count=$(wc -l <<< "$files")
    while read -r file; do echo "  $file"; done <<< "$files"
    echo "$count files ($places places) differ from .clang-format: ./run.sh format applies it"
    return 1
}

check_shell() {
    local scripts
    mapfile -t scripts < <(shell_scripts)
    shellcheck --external-sources "${scripts[@]}" && echo "shellcheck: ${#scripts[@]} scripts clean"
}

check_types() {
    local gpio=$SOURCE_DIR/gpio-extension
    [ -x "$gpio/node_modules/.bin/tsc" ] ||
        (cd "$gpio" && npm ci --no-audit --no-fund --loglevel=error)
    "$gpio/node_modules/.bin/tsc" -p "$gpio/test/types" && echo "index.d.ts: the example program type-checks"
}

check_tests() {
    run_suite "$BUILD_DIR" --label-exclude "$CHECK_EXCLUDED_LABELS"
    [ "$failed_total" = 0 ]
}

run_check() {
    check_step build build
    if [ "${check_step_results[0]}" = "build: ok" ]; then
        check_step tests check_tests
    fi
    check_step format check_format
    check_step shellcheck check_shell
    check_step types check_types
    echo
    printf '%s\n' "${check_step_results[@]}"
    echo "suites: $passed_total passed, $failed_total failed"
    ! printf '%s\n' "${check_step_results[@]}" | grep -q FAILED
}

apply_format() {
    c_sources | xargs -0 clang-format -i
    git -C "$SOURCE_DIR" diff --stat
}

# --- Benchmarks ---

# bench NAME...: the build with the benchmarks, then each of them in turn.
run_benchmarks() {
    build -DPANEL_BUILD_BENCH=ON
    local names=("$@")
    [ ${#names[@]} -gt 0 ] || names=(startup headless-network pointer-filter pointer-hold browser gpio device-vm)
    local name
    for name in "${names[@]}"; do
        echo "=== bench: $name"
        case "$name" in
            gpio) cmake --build "$BUILD_DIR" --target gpio-bench ;;
            startup | headless-network | pointer-filter | pointer-hold | browser | device-vm)
                "$SOURCE_DIR/bench/$name.sh" "$BUILD_DIR" ;;
            *) echo "no benchmark named $name" >&2; return 2 ;;
        esac
    done
}

demo() {
    "$SOURCE_DIR/tests/demo/panel-demo" "$BUILD_DIR"
}

case "${1:-}" in
    deps) install_dependencies armhf ;;
    build) install_dependencies; build ;;
    # The full run builds the benchmarks too, so that a change cannot break them unseen.
    test) install_dependencies armhf; build -DPANEL_BUILD_BENCH=ON; run_tests ;;
    sanitize) install_dependencies; run_sanitized_suite; print_totals ;;
    demo) install_dependencies; build; demo ;;
    check) install_dependencies; run_check ;;
    format) install_dependencies; apply_format ;;
    bench) install_dependencies; run_benchmarks "${@:2}" ;;
    armhf) install_dependencies armhf; run_armhf_suite; print_totals ;;
    package) install_dependencies armhf; package_armhf ;;
    device-vm) install_dependencies; build; "$SOURCE_DIR/tests/vm/device-scenario" "$BUILD_DIR" "${2:-1024x600}" ;;
    *) sed -n '2,21p' "$0" | sed 's/^# \{0,1\}//'; exit 2 ;;
esac
