# Cross-compiles for Windows x86-64 with MinGW-w64 GCC (posix thread model:
# the win32 model has no std::mutex or std::thread). Binaries run under Wine
# through the emulator wrapper, so CTest runs the Windows programs directly.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ZV_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${ZV_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZV_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${ZV_MINGW_TRIPLET}-windres)
set(CMAKE_DLLTOOL ${ZV_MINGW_TRIPLET}-dlltool CACHE FILEPATH "Import-library tool")
set(CMAKE_OBJDUMP ${ZV_MINGW_TRIPLET}-objdump CACHE FILEPATH "Object dump tool")
set(CMAKE_OBJCOPY ${ZV_MINGW_TRIPLET}-objcopy CACHE FILEPATH "Object copy tool")

set(CMAKE_FIND_ROOT_PATH /usr/${ZV_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Every module carries its own copy of the C++ runtime, libgcc and
# winpthreads, so a DLL needs nothing beside it but the system DLLs and the
# libraries it imports by design. -static-libgcc -static-libstdc++ alone still
# leaves libwinpthread-1.dll as an import.
#
# Two builds of one commit give the same bytes wherever they are made: no link
# time in the image headers, and the source and build folders both written as
# "." in debug information and __FILE__ (the later map wins where the build
# folder lies inside the source folder).
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -Wl,--no-insert-timestamp")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -Wl,--no-insert-timestamp")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -Wl,--no-insert-timestamp")
set(CMAKE_C_FLAGS_INIT "-ffile-prefix-map=${CMAKE_SOURCE_DIR}=. -ffile-prefix-map=${CMAKE_BINARY_DIR}=.")
set(CMAKE_CXX_FLAGS_INIT "${CMAKE_C_FLAGS_INIT}")

# Windows programs run under Wine, in one prefix per build tree.
set(CMAKE_CROSSCOMPILING_EMULATOR
    "${CMAKE_CURRENT_LIST_DIR}/windows/wine-run.sh;${CMAKE_BINARY_DIR}/wineprefix")
