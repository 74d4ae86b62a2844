# Cross-compiles for Windows x86-64: Clang in MinGW mode with GCC's MinGW-w64
# runtime (libstdc++ of the posix thread model, libgcc, winpthreads) and
# LLD, which writes a PDB from Clang's CodeView debug information. Binaries
# run under Wine through the emulator wrapper, so CTest runs the Windows
# programs directly.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ZV_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET ${ZV_MINGW_TRIPLET})
set(CMAKE_CXX_COMPILER_TARGET ${ZV_MINGW_TRIPLET})
set(CMAKE_RC_COMPILER ${ZV_MINGW_TRIPLET}-windres)
set(CMAKE_DLLTOOL ${ZV_MINGW_TRIPLET}-dlltool CACHE FILEPATH "Import-library tool")
set(CMAKE_OBJDUMP ${ZV_MINGW_TRIPLET}-objdump CACHE FILEPATH "Object dump tool")
set(CMAKE_OBJCOPY ${ZV_MINGW_TRIPLET}-objcopy CACHE FILEPATH "Object copy tool")

# The MinGW-w64 headers and import libraries are the sysroot. Clang 14 does
# not find Debian's GCC runtime by itself: its MinGW driver looks for a GCC
# version folder it can parse as a number, and Debian's is named "12-posix"
# (clang/lib/Driver/ToolChains/MinGW.cpp, findGccVersion). So libstdc++'s
# headers and GCC's libraries are named here, and -pthread links winpthreads,
# which GCC's own driver adds for the posix thread model and libstdc++ and
# libgcc's emulated TLS need.
set(CMAKE_SYSROOT /usr/${ZV_MINGW_TRIPLET})
file(GLOB ZV_MINGW_GCC_DIRS /usr/lib/gcc/${ZV_MINGW_TRIPLET}/*-posix)
list(SORT ZV_MINGW_GCC_DIRS COMPARE NATURAL ORDER DESCENDING)
list(APPEND ZV_MINGW_GCC_DIRS NOTFOUND)
list(GET ZV_MINGW_GCC_DIRS 0 ZV_MINGW_GCC_DIR)
if(NOT EXISTS ${ZV_MINGW_GCC_DIR}/include/c++)
  message(FATAL_ERROR "No MinGW-w64 libstdc++ of the posix thread model in /usr/lib/gcc/${ZV_MINGW_TRIPLET}: "
                      "install g++-mingw-w64-x86-64-posix")
endif()
set(CMAKE_CXX_STANDARD_INCLUDE_DIRECTORIES
    ${ZV_MINGW_GCC_DIR}/include/c++
    ${ZV_MINGW_GCC_DIR}/include/c++/${ZV_MINGW_TRIPLET}
    ${ZV_MINGW_GCC_DIR}/include/c++/backward)

set(CMAKE_FIND_ROOT_PATH /usr/${ZV_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Every module carries its own copy of the C++ runtime, libgcc and
# winpthreads, so a DLL needs nothing beside it but the system DLLs and the
# libraries it imports by design.
#
# Two builds of one commit give the same bytes wherever they are made: no link
# time in the image headers, and the source and build folders both written as
# "." in debug information and __FILE__ (the later map wins where the build
# folder lies inside the source folder; the DLL that ships goes further, see
# zv_windows_ship).
set(zv_link_flags "-Wno-unused-command-line-argument -fuse-ld=lld -static -pthread -L${ZV_MINGW_GCC_DIR} -Wl,--no-insert-timestamp")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${zv_link_flags}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${zv_link_flags}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${zv_link_flags}")
set(zv_prefix_maps "-ffile-prefix-map=${CMAKE_SOURCE_DIR}=. -ffile-prefix-map=${CMAKE_BINARY_DIR}=.")
# GCC's MinGW-w64 runtime reaches thread-local variables through emulated TLS
# (__emutls_v.<name>), and so must our code, libstdc++'s std::call_once
# inlined into it among others: Clang uses native TLS for MinGW unless told
# otherwise (llvm/llvm-project issues 56135 and 79714).
#
# Debug information is DWARF, as with GCC, except in the DLL that ships
# (zv_windows_ship): Clang 14's CodeView refers a thread-local variable by a
# symbol that emulated TLS never defines, so the stand-ins' and tests'
# thread_local variables would not link.
set(CMAKE_C_FLAGS_INIT "-femulated-tls ${zv_prefix_maps}")
set(CMAKE_CXX_FLAGS_INIT "-femulated-tls ${zv_prefix_maps}")

# Windows programs run under Wine, in one prefix per build tree.
set(CMAKE_CROSSCOMPILING_EMULATOR
    "${CMAKE_CURRENT_LIST_DIR}/windows/wine-run.sh;${CMAKE_BINARY_DIR}/wineprefix")
