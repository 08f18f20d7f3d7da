# SPDX-License-Identifier: MIT
# Cross build for 64-bit Arm Linux with Debian's cross toolchain
# (g++-aarch64-linux-gnu) against the arm64 packages installed side by side
# with the native ones (dpkg --add-architecture arm64).  Programs run through
# qemu-user (scripts/qemu-aarch64-run), so ctest works on an x86_64 host.
#
#   cmake -S . -B build-arm64 -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake \
#         -DKESTREL_ARM64_UMOCKDEV=<dir>
#
# umockdev's development files and preload library cannot be installed for
# arm64 beside the native ones (their packages are not multi-arch), so
# scripts/test-arm64 unpacks the arm64 packages into a directory of their
# own; KESTREL_ARM64_UMOCKDEV names that directory (it holds usr/...).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(triple aarch64-linux-gnu)
set(CMAKE_C_COMPILER ${triple}-gcc)
set(CMAKE_CXX_COMPILER ${triple}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${triple})

# Multiarch: arm64 libraries live in /usr/lib/aarch64-linux-gnu, headers in
# /usr/include; the cross toolchain's own files under /usr/aarch64-linux-gnu.
set(CMAKE_FIND_ROOT_PATH /usr/${triple} /)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(KESTREL_ARM64_UMOCKDEV "" CACHE PATH
    "Directory with the unpacked arm64 umockdev and libumockdev-dev packages")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES KESTREL_ARM64_UMOCKDEV)

set(pc_dirs /usr/lib/${triple}/pkgconfig /usr/share/pkgconfig)
set(guest_libdir "")
if(KESTREL_ARM64_UMOCKDEV)
  list(PREPEND pc_dirs ${KESTREL_ARM64_UMOCKDEV}/usr/lib/${triple}/pkgconfig)
  set(guest_libdir ${KESTREL_ARM64_UMOCKDEV}/usr/lib/${triple})
endif()
string(REPLACE ";" ":" pc_dirs "${pc_dirs}")
set(ENV{PKG_CONFIG_LIBDIR} "${pc_dirs}")
set(ENV{PKG_CONFIG_PATH} "")
unset(ENV{PKG_CONFIG_SYSROOT_DIR})

get_filename_component(run ${CMAKE_CURRENT_LIST_DIR}/../scripts/qemu-aarch64-run ABSOLUTE)
if(guest_libdir)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${run} --libdir ${guest_libdir})
else()
  set(CMAKE_CROSSCOMPILING_EMULATOR ${run})
endif()
