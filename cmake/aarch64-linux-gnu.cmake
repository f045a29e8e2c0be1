# Builds for arm64 Debian on an x86-64 Debian machine: the cross compiler from
# g++-aarch64-linux-gnu, every library from its :arm64 package (multiarch), and
# qemu-user to run what was built (tests, and the tools that make the default
# texture at build time).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)

# pkg-config reads the arm64 packages' .pc files, never this machine's own.
set(ENV{PKG_CONFIG_LIBDIR} "/usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "")

# `-cpu max` offers NEON, SVE and SVE2, so every Highway target for arm64 runs.
# No -L prefix: libc6:arm64, which the :arm64 libraries bring, puts the arm64
# loader and C library where the binaries look for them. The cross compiler's
# own copy under /usr/aarch64-linux-gnu is another build of that C library, and
# a prefix would mix its loader with the multiarch libc.so.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64 -cpu max)
