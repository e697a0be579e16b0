# Cross-compiling for 64-bit ARM (a Raspberry Pi on Debian 12 or 64-bit
# Raspberry Pi OS) on an amd64 Debian 12 with multiarch: the compilers of
# crossbuild-essential-arm64 and the :arm64 development packages.
# packaging/cross/package-arm64.sh runs it in a build root of its own.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
# GCC fuses a * b + c into one rounding on arm64 (fmadd), which amd64's
# baseline has not: without it every double expression rounds as on amd64.
# (The astronomy computes in long double, in software on arm64: no fmadd.)
set(CMAKE_C_FLAGS_INIT -ffp-contract=off)
set(CMAKE_CXX_FLAGS_INIT -ffp-contract=off)

# Libraries and headers of the target only; programs (isql-fb, msgfmt,
# help2man, Qt's moc) are the build machine's.
set(CMAKE_FIND_ROOT_PATH /)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig)

# Qt's build tools (moc, uic, rcc) come from the build machine's Qt.
set(QT_HOST_PATH /usr)
set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake)

# GNUInstallDirs gives Debian's multiarch library folder to native builds only.
set(CMAKE_INSTALL_LIBDIR lib/aarch64-linux-gnu CACHE PATH "Object code libraries")

# The package's architecture (cpack would ask dpkg, which says amd64).
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE arm64)
