# Included right after project() by the Windows builds
# (CMAKE_PROJECT_ZVAudioOutput_INCLUDE in the `windows` and `windows-msvc`
# presets).
#
# When no GoogleTest for the target is installed (there is none for Windows on
# a Linux host), the suite's find_package(GTest) is served by GoogleTest built
# from source with the same compiler and runtime, as part of this build.
if(DEFINED ZV_BUILD_TESTS AND NOT ZV_BUILD_TESTS)
  return()
endif()

find_package(GTest CONFIG QUIET)
if(GTest_FOUND)
  return()
endif()

set(ZV_GOOGLETEST_SOURCE_DIR /usr/src/googletest CACHE PATH
    "GoogleTest sources to cross-build when no Windows build of GoogleTest is found")
if(NOT EXISTS ${ZV_GOOGLETEST_SOURCE_DIR}/CMakeLists.txt)
  message(FATAL_ERROR "No GoogleTest for the target and no sources in ${ZV_GOOGLETEST_SOURCE_DIR}: "
                      "install the Debian package googletest, point ZV_GOOGLETEST_SOURCE_DIR at "
                      "a GoogleTest source tree, or configure with -DZV_BUILD_TESTS=OFF")
endif()

include(FetchContent)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
FetchContent_Declare(GTest
  SOURCE_DIR ${ZV_GOOGLETEST_SOURCE_DIR}
  OVERRIDE_FIND_PACKAGE)
FetchContent_MakeAvailable(GTest)
