# Unpacks the release archives and checks them against the build and the
# repository.
#
#   cmake -DOUT=<folder> -DVERSION=<x.y.z> -DDLL=<ZVAudioOutput.dll>
#         -DSOURCE_DIR=<repository> -DOBJDUMP=<objdump> -DOBJCOPY=<objcopy>
#         [-DRC=<windres>] [-DSCRATCH=<folder>]
#         [-DPYTHON=<python3> -DDEBUG_FILE=<ZVAudioOutput.debug>]
#         -P CheckReleaseArchives.cmake
#
# With PYTHON, the archives are made first (tools/make_release_archives.py)
# into a cleared OUT from DLL and DEBUG_FILE; without, OUT holds them already.
# They are unpacked into SCRATCH (default: OUT.unpacked), which is removed
# when everything checks out.
#
# - OUT holds the tarball, the zip and SHA256SUMS, and the sums match;
# - the tarball has one root folder package/ holding the repository's package
#   files and the built DLL in Runtime/Plugins/x86_64 beside its .meta,
#   and passes the package check; its package.json names the version, and so
#   does its changelog's latest entry and the DLL's version resource;
# - the zip holds the built DLL, its debug file, the header, README and
#   LICENSE, and the DLL names that debug file and carries its build GUID.
cmake_minimum_required(VERSION 3.25)

foreach(required OUT VERSION DLL SOURCE_DIR OBJDUMP OBJCOPY)
  if(NOT DEFINED ${required})
    message(FATAL_ERROR "CheckReleaseArchives: ${required} is not set")
  endif()
endforeach()

set(package_name com.zvaudio.output)
set(package_src ${SOURCE_DIR}/unity_package/${package_name})
set(plugin_path Runtime/Plugins/x86_64/ZVAudioOutput.dll)
set(tgz_name ${package_name}-${VERSION}.tgz)
set(zip_root ZVAudioOutput-${VERSION}-windows-x86_64)
set(zip_name ${zip_root}.zip)
set(failures "")

if(DEFINED PYTHON)
  file(REMOVE_RECURSE ${OUT})
  if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
    set(ENV{SOURCE_DATE_EPOCH} 315532800)
  endif()
  execute_process(
    COMMAND ${PYTHON} ${SOURCE_DIR}/tools/make_release_archives.py --version ${VERSION}
            --dll ${DLL} --debug ${DEBUG_FILE} --source ${SOURCE_DIR} --out ${OUT}
    RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "make_release_archives.py failed (${status})")
  endif()
endif()

# --- the three files ---------------------------------------------------------
file(GLOB written RELATIVE ${OUT} ${OUT}/*)
list(SORT written)
set(expected SHA256SUMS ${zip_name} ${tgz_name})
list(SORT expected)
if(NOT written STREQUAL expected)
  message(FATAL_ERROR "${OUT} holds '${written}', expected '${expected}'")
endif()
file(STRINGS ${OUT}/SHA256SUMS sum_lines)
set(summed "")
foreach(line IN LISTS sum_lines)
  if(NOT line MATCHES "^([0-9a-f]+)  (.+)$")
    list(APPEND failures "SHA256SUMS: malformed line '${line}'")
    continue()
  endif()
  list(APPEND summed ${CMAKE_MATCH_2})
  file(SHA256 ${OUT}/${CMAKE_MATCH_2} actual)
  if(NOT actual STREQUAL CMAKE_MATCH_1)
    list(APPEND failures "SHA256SUMS: wrong sum for ${CMAKE_MATCH_2}")
  endif()
endforeach()
if(NOT summed STREQUAL "${zip_name};${tgz_name}" AND NOT summed STREQUAL "${tgz_name};${zip_name}")
  list(APPEND failures "SHA256SUMS covers '${summed}', not the two archives")
endif()

# --- the tarball ---------------------------------------------------------------
set(unpacked ${OUT}.unpacked)
if(DEFINED SCRATCH)
  set(unpacked ${SCRATCH})
endif()
file(REMOVE_RECURSE ${unpacked})
file(ARCHIVE_EXTRACT INPUT ${OUT}/${tgz_name} DESTINATION ${unpacked}/tgz)
file(GLOB roots RELATIVE ${unpacked}/tgz ${unpacked}/tgz/*)
if(NOT roots STREQUAL "package")
  list(APPEND failures "${tgz_name}: root entries '${roots}', expected only 'package'")
endif()
set(package ${unpacked}/tgz/package)

# The repository's package files, as the release takes them: no hidden
# entries, no staged native libraries.
file(GLOB_RECURSE source_files RELATIVE ${package_src} ${package_src}/*)
list(FILTER source_files EXCLUDE REGEX "(^|/)\\.")
list(FILTER source_files EXCLUDE REGEX "\\.([dD][lL][lL]|[pP][dD][bB])$")
file(GLOB_RECURSE shipped_files RELATIVE ${package} ${package}/*)
set(expected_files ${source_files} ${plugin_path})
list(SORT expected_files)
list(SORT shipped_files)
if(NOT shipped_files STREQUAL expected_files)
  set(missing ${expected_files})
  list(REMOVE_ITEM missing ${shipped_files})
  set(extra ${shipped_files})
  list(REMOVE_ITEM extra ${expected_files})
  list(APPEND failures "${tgz_name}: missing '${missing}', unexpected '${extra}'")
endif()
file(SHA256 ${DLL} built_dll)
if(EXISTS ${package}/${plugin_path})
  file(SHA256 ${package}/${plugin_path} shipped)
  if(NOT shipped STREQUAL built_dll)
    list(APPEND failures "${tgz_name}: package/${plugin_path} is not the built DLL")
  endif()
endif()

file(READ ${package}/package.json manifest)
string(JSON manifest_name ERROR_VARIABLE json_error GET "${manifest}" name)
string(JSON manifest_version ERROR_VARIABLE json_error GET "${manifest}" version)
if(NOT manifest_name STREQUAL package_name OR NOT manifest_version STREQUAL VERSION)
  list(APPEND failures
       "package.json: '${manifest_name}' '${manifest_version}', expected '${package_name}' '${VERSION}'")
endif()

# The latest changelog entry is the version being released.
file(STRINGS ${package}/CHANGELOG.md entries REGEX "^## \\[")
set(latest "")
if(entries)
  list(GET entries 0 latest)
endif()
if(NOT latest MATCHES "^## \\[${VERSION}\\]")
  list(APPEND failures "CHANGELOG.md: latest entry '${latest}', expected '## [${VERSION}]'")
endif()

execute_process(
  COMMAND ${CMAKE_COMMAND} -DPACKAGE_DIR=${package}
          -P ${SOURCE_DIR}/unity_package/check_package.cmake
  RESULT_VARIABLE status OUTPUT_VARIABLE package_report ERROR_VARIABLE package_report)
if(NOT status EQUAL 0)
  list(APPEND failures "${tgz_name}: the package check fails on it:\n${package_report}")
endif()

# --- the DLL's version resource --------------------------------------------------
if(DEFINED RC)
  execute_process(COMMAND ${RC} -i ${DLL} -O rc
    OUTPUT_VARIABLE resources RESULT_VARIABLE status)
  string(REPLACE "." ", " numbers "${VERSION}")
  foreach(pattern "VALUE \"FileVersion\", \"${VERSION}\"" "VALUE \"ProductVersion\", \"${VERSION}\""
                  "FILEVERSION ${numbers}, 0")
    string(FIND "${resources}" "${pattern}" found)
    if(NOT status EQUAL 0 OR found EQUAL -1)
      list(APPEND failures "ZVAudioOutput.dll: no '${pattern}' in its version resource")
    endif()
  endforeach()
endif()

# --- the zip ---------------------------------------------------------------------
file(ARCHIVE_EXTRACT INPUT ${OUT}/${zip_name} DESTINATION ${unpacked}/zip)
file(GLOB_RECURSE zipped RELATIVE ${unpacked}/zip ${unpacked}/zip/*)
list(SORT zipped)
set(expected_zip LICENSE README.md ZVAudioOutput.debug ZVAudioOutput.dll ZVAudioOutput.h)
list(TRANSFORM expected_zip PREPEND ${zip_root}/)
if(NOT zipped STREQUAL expected_zip)
  list(APPEND failures "${zip_name}: holds '${zipped}', expected '${expected_zip}'")
else()
  set(zip_dir ${unpacked}/zip/${zip_root})
  file(SHA256 ${zip_dir}/ZVAudioOutput.dll zipped_dll)
  if(NOT zipped_dll STREQUAL built_dll)
    list(APPEND failures "${zip_name}: ZVAudioOutput.dll is not the built DLL")
  endif()
  # A crash dump carries the module's CodeView record: its GUID must be the
  # debug file's, and the DLL must name that file.
  foreach(image ZVAudioOutput.dll ZVAudioOutput.debug)
    execute_process(COMMAND ${OBJDUMP} -p ${zip_dir}/${image} OUTPUT_VARIABLE dump)
    string(REGEX MATCH "format RSDS signature ([0-9a-f]+) age ([0-9]+)" record "${dump}")
    set(guid_${image} "${CMAKE_MATCH_1}/${CMAKE_MATCH_2}")
  endforeach()
  if(guid_ZVAudioOutput.dll STREQUAL "/" OR NOT guid_ZVAudioOutput.dll STREQUAL guid_ZVAudioOutput.debug)
    list(APPEND failures "CodeView GUIDs differ: DLL '${guid_ZVAudioOutput.dll}', "
                         "debug file '${guid_ZVAudioOutput.debug}'")
  endif()
  execute_process(
    COMMAND ${OBJCOPY} --dump-section .gnu_debuglink=${unpacked}/debuglink
            ${zip_dir}/ZVAudioOutput.dll ${unpacked}/scratch.dll
    RESULT_VARIABLE status ERROR_QUIET)
  set(link "")
  if(status EQUAL 0)
    file(STRINGS ${unpacked}/debuglink link LIMIT_COUNT 1)
  endif()
  if(NOT link STREQUAL "ZVAudioOutput.debug")
    list(APPEND failures "ZVAudioOutput.dll: debug link '${link}', expected 'ZVAudioOutput.debug'")
  endif()
endif()

if(failures)
  list(JOIN failures "\n  " report)
  message(FATAL_ERROR "release archives in ${OUT}:\n  ${report}")
endif()
file(REMOVE_RECURSE ${unpacked})
message(STATUS "release archives in ${OUT}: ${tgz_name} and ${zip_name} check out")
