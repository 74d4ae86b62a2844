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

set(CMAKE_FIND_ROOT_PATH /usr/${ZV_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Every module carries its own copy of the C++ runtime, libgcc and
# winpthreads, so a DLL needs nothing beside it but the system DLLs and the
# libraries it imports by design. -static-libgcc -static-libstdc++ alone still
# leaves libwinpthread-1.dll as an import.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")

# Windows programs run under Wine, in one prefix per build tree.
set(CMAKE_CROSSCOMPILING_EMULATOR
    "${CMAKE_CURRENT_LIST_DIR}/windows/wine-run.sh;${CMAKE_BINARY_DIR}/wineprefix")
