# SPDX-License-Identifier: MIT
# 32-bit x86 Linux with the multilib toolchain (g++-multilib): the library
# for Debian's i386 packages, installed into /usr/lib/i386-linux-gnu beside
# the 64-bit one.
#   cmake -S . -B build-deb-i386 -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/i386-linux-gnu.cmake" \
#         -DCMAKE_INSTALL_PREFIX=/usr -DTUVELLO_BUILD_CLI=OFF
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_FLAGS_INIT -m32)
set(CMAKE_CXX_FLAGS_INIT -m32)
set(CMAKE_EXE_LINKER_FLAGS_INIT -m32)
set(CMAKE_SHARED_LINKER_FLAGS_INIT -m32)
set(CMAKE_MODULE_LINKER_FLAGS_INIT -m32)
# Debian's multiarch directory (the compiler's own search path, /usr/lib32,
# would not tell GNUInstallDirs).
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
set(CMAKE_INSTALL_LIBDIR lib/i386-linux-gnu CACHE PATH "Libraries, in Debian's multiarch directory")
