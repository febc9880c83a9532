# Cross-building for the panel: Debian's armhf (32-bit ARM, hard float), with
# the target's libraries installed beside the host's through multiarch
# (dpkg --add-architecture armhf; qtbase5-dev:armhf, qtwebengine5-dev:armhf,
# libgpiod-dev:armhf, pkgconf:armhf and crossbuild-essential-armhf).
#
#   cmake -S . -B build-armhf -DCMAKE_TOOLCHAIN_FILE=cmake/armhf.cmake
#
# Debian's armhf Qt CMake files name the host's moc, uic and rcc
# (qtbase5-dev-tools), so AUTOMOC and AUTOUIC work unchanged.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR armv7l)

set(PANEL_TARGET_TRIPLET arm-linux-gnueabihf)
set(CMAKE_C_COMPILER ${PANEL_TARGET_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${PANEL_TARGET_TRIPLET}-g++)
# Multiarch keeps the target's files under /usr/lib/arm-linux-gnueabihf and
# /usr/include/arm-linux-gnueabihf of the one root: no sysroot, and find_package
# and find_library look in the triplet folders first.
set(CMAKE_LIBRARY_ARCHITECTURE ${PANEL_TARGET_TRIPLET})
set(PKG_CONFIG_EXECUTABLE /usr/bin/${PANEL_TARGET_TRIPLET}-pkg-config CACHE FILEPATH "pkg-config for armhf")

# No binfmt_misc handler for ARM here: the built programs and tests run through
# qemu-user, which takes the target's dynamic loader and libraries from / (-L /).
# qemu-user hands the program's system calls to this host's kernel, so the
# emulator runs each program in a PID namespace of its own. The one launcher is
# the build's tests/emulation/run-armhf (generated from run-armhf.in), which
# also preloads the shim that makes QProcess work under emulation.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/tests/emulation/run-armhf --own-pid-namespace)
