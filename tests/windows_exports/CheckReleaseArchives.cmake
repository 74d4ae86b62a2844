# Unpacks the release archives and checks them against the build and the
# repository.
#
#   cmake -DOUT=<folder> -DVERSION=<x.y.z> -DDLL=<ZVAudioOutput.dll>
#         -DSOURCE_DIR=<repository> -DOBJDUMP=<objdump>
#         [-DRC=<windres>] [-DSCRATCH=<folder>]
#         [-DPYTHON=<python3> -DPDB=<ZVAudioOutput.pdb>]
#         -P CheckReleaseArchives.cmake
#
# With PYTHON, the archives are made first (tools/make_release_archives.py)
# into a cleared OUT from DLL and PDB; without, OUT holds them already.
# llvm-pdbutil, llvm-readobj and llvm-symbolizer (Debian package llvm) read
# the PDB.
# They are unpacked into SCRATCH (default: OUT.unpacked), which is removed
# when everything checks out.
#
# - OUT holds the tarball, the zip and SHA256SUMS, and the sums match;
# - the tarball has one root folder package/ holding the repository's package
#   files and the built DLL in Runtime/Plugins/x86_64 beside its .meta,
#   and passes the package check; its package.json names the version, and so
#   does its changelog's latest entry and the DLL's version resource;
# - the zip holds the built DLL, its PDB (beside it and in a symbol store
#   layout), the header, README, LICENSE and the documents the README links
#   to; every relative link of its documents leads to a file in it;
# - the DLL's CodeView record names the PDB by file name alone, with the
#   PDB's GUID and age, and the DLL and PDB alone turn an address inside
#   CreateAudioOutput into that function, its source file and line;
# - the shipped DLL carries no DWARF (.debug_*) section: its debug
#   information is the PDB's.
cmake_minimum_required(VERSION 3.25)

foreach(required OUT VERSION DLL SOURCE_DIR OBJDUMP)
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
            --dll ${DLL} --pdb ${PDB} --source ${SOURCE_DIR} --out ${OUT}
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
foreach(tool llvm-pdbutil llvm-readobj llvm-symbolizer)
  string(MAKE_C_IDENTIFIER ${tool} variable)
  find_program(${variable} NAMES ${tool} ${tool}-14)
  if(NOT ${variable})
    message(FATAL_ERROR "CheckReleaseArchives: no ${tool} (install the Debian package llvm)")
  endif()
endforeach()

file(ARCHIVE_EXTRACT INPUT ${OUT}/${zip_name} DESTINATION ${unpacked}/zip)
set(zip_dir ${unpacked}/zip/${zip_root})
file(GLOB_RECURSE zipped RELATIVE ${zip_dir} ${unpacked}/zip/*)
set(required_zip LICENSE README.md ZVAudioOutput.dll ZVAudioOutput.h ZVAudioOutput.pdb)
set(missing ${required_zip})
list(REMOVE_ITEM missing ${zipped})
if(missing)
  list(APPEND failures "${zip_name}: '${missing}' missing from ${zip_root}/")
endif()

# Everything else is a symbol store entry, or a document of the repository
# at its path there.
set(stored "")
foreach(entry IN LISTS zipped)
  if(entry IN_LIST required_zip)
    continue()
  elseif(entry MATCHES "^symbols/")
    list(APPEND stored ${entry})
  elseif(entry MATCHES "^\\.\\./" OR NOT entry MATCHES "\\.(md|svg)$" OR NOT EXISTS ${SOURCE_DIR}/${entry})
    list(APPEND failures "${zip_name}: unexpected entry '${entry}'")
  else()
    file(SHA256 ${zip_dir}/${entry} zipped_hash)
    file(SHA256 ${SOURCE_DIR}/${entry} source_hash)
    if(NOT zipped_hash STREQUAL source_hash)
      list(APPEND failures "${zip_name}: ${entry} is not the repository's")
    endif()
  endif()
endforeach()

# A reader of the zip's README follows its links without the repository.
foreach(document IN LISTS zipped)
  if(NOT document MATCHES "\\.md$")
    continue()
  endif()
  file(READ ${zip_dir}/${document} text)
  string(REGEX MATCHALL "\\]\\([^) ]+\\)" links "${text}")
  get_filename_component(document_dir ${zip_dir}/${document} DIRECTORY)
  foreach(link IN LISTS links)
    string(REGEX REPLACE "^\\]\\(([^#)]*).*$" "\\1" target "${link}")
    if(target STREQUAL "" OR target MATCHES "^[A-Za-z][A-Za-z0-9+.-]*:")
      continue()
    endif()
    get_filename_component(resolved ${document_dir}/${target} ABSOLUTE)
    if(NOT EXISTS ${resolved} OR IS_DIRECTORY ${resolved})
      list(APPEND failures "${zip_name}: ${document} links to '${target}', which it does not hold")
    endif()
  endforeach()
endforeach()

if(EXISTS ${zip_dir}/ZVAudioOutput.dll AND EXISTS ${zip_dir}/ZVAudioOutput.pdb)
  file(SHA256 ${zip_dir}/ZVAudioOutput.dll zipped_dll)
  if(NOT zipped_dll STREQUAL built_dll)
    list(APPEND failures "${zip_name}: ZVAudioOutput.dll is not the built DLL")
  endif()
  if(DEFINED PDB)
    file(SHA256 ${PDB} built_pdb)
    file(SHA256 ${zip_dir}/ZVAudioOutput.pdb zipped_pdb)
    if(NOT zipped_pdb STREQUAL built_pdb)
      list(APPEND failures "${zip_name}: ZVAudioOutput.pdb is not the built PDB")
    endif()
  endif()

  execute_process(COMMAND ${OBJDUMP} -h ${zip_dir}/ZVAudioOutput.dll OUTPUT_VARIABLE section_table
    RESULT_VARIABLE status)
  string(REGEX MATCHALL "[ \t]\\.debug[_$A-Za-z0-9]*" debug_sections "${section_table}")
  if(NOT status EQUAL 0)
    list(APPEND failures "ZVAudioOutput.dll: objdump cannot list its sections")
  elseif(debug_sections)
    string(REGEX REPLACE "[ \t]" "" debug_sections "${debug_sections}")
    list(JOIN debug_sections ", " debug_sections)
    list(APPEND failures "ZVAudioOutput.dll carries DWARF sections (${debug_sections}): ship it stripped, its PDB holds the debug information")
  endif()

  # A crash dump carries the module's CodeView record; debuggers look the PDB
  # up by the file name, GUID and age in it.
  execute_process(COMMAND ${OBJDUMP} -p ${zip_dir}/ZVAudioOutput.dll OUTPUT_VARIABLE dump)
  set(dll_id "")
  if(dump MATCHES "format RSDS signature ([0-9a-f]+) age ([0-9]+) pdb ([^)\n]*)\\)")
    set(signature ${CMAKE_MATCH_1})
    set(age ${CMAKE_MATCH_2})
    set(named ${CMAKE_MATCH_3})
    if(NOT named STREQUAL "ZVAudioOutput.pdb")
      list(APPEND failures "ZVAudioOutput.dll: its CodeView record names '${named}', not ZVAudioOutput.pdb")
    endif()
    # objdump prints the GUID's fields as numbers, as the GUID is written.
    set(dll_id ${signature})
    math(EXPR age_hex "${age}" OUTPUT_FORMAT HEXADECIMAL)
    string(REGEX REPLACE "^0x" "" age_hex ${age_hex})
    string(TOUPPER "${dll_id}${age_hex}" dll_id)
  else()
    list(APPEND failures "ZVAudioOutput.dll: no CodeView (RSDS) record")
  endif()

  execute_process(COMMAND ${llvm_pdbutil} dump -summary ${zip_dir}/ZVAudioOutput.pdb
    RESULT_VARIABLE status OUTPUT_VARIABLE summary ERROR_VARIABLE summary)
  if(status EQUAL 0 AND summary MATCHES "GUID: {([0-9A-F-]+)}" )
    string(REPLACE "-" "" pdb_id ${CMAKE_MATCH_1})
    string(REGEX MATCH "Age: ([0-9]+)" ignored "${summary}")
    math(EXPR pdb_age "${CMAKE_MATCH_1}" OUTPUT_FORMAT HEXADECIMAL)
    string(REGEX REPLACE "^0x" "" pdb_age ${pdb_age})
    string(TOUPPER "${pdb_id}${pdb_age}" pdb_id)
    if(NOT pdb_id STREQUAL dll_id)
      list(APPEND failures "ZVAudioOutput.pdb: GUID and age '${pdb_id}', the DLL's record '${dll_id}'")
    endif()
    set(store_entry symbols/ZVAudioOutput.pdb/${pdb_id}/ZVAudioOutput.pdb)
    set(store_entries ${store_entry} symbols/pingme.txt)
    list(SORT stored)
    list(SORT store_entries)
    if(NOT stored STREQUAL store_entries)
      list(APPEND failures "${zip_name}: symbol store holds '${stored}', expected '${store_entries}'")
    else()
      file(SHA256 ${zip_dir}/${store_entry} stored_pdb)
      file(SHA256 ${zip_dir}/ZVAudioOutput.pdb zipped_pdb)
      if(NOT stored_pdb STREQUAL zipped_pdb)
        list(APPEND failures "${zip_name}: ${store_entry} is not ZVAudioOutput.pdb")
      endif()
    endif()
  else()
    list(APPEND failures "llvm-pdbutil cannot read ZVAudioOutput.pdb:\n${summary}")
  endif()

  # The DLL and the PDB alone, in a folder of their own, name the function,
  # source file and line of an address inside CreateAudioOutput; the DLL
  # without its PDB names no source line (its exports give a name at most).
  execute_process(COMMAND ${llvm_readobj} --coff-exports ${zip_dir}/ZVAudioOutput.dll
    OUTPUT_VARIABLE exports)
  if(exports MATCHES "Name: CreateAudioOutput\n *RVA: 0x([0-9A-Fa-f]+)")
    math(EXPR address "0x${CMAKE_MATCH_1} + 1" OUTPUT_FORMAT HEXADECIMAL)
    set(symbolized "")
    foreach(with_pdb ON OFF)
      set(folder ${unpacked}/symbolize-${with_pdb})
      file(MAKE_DIRECTORY ${folder})
      file(COPY ${zip_dir}/ZVAudioOutput.dll DESTINATION ${folder})
      if(with_pdb)
        file(COPY ${zip_dir}/ZVAudioOutput.pdb DESTINATION ${folder})
      endif()
      execute_process(
        COMMAND ${llvm_symbolizer} --obj=ZVAudioOutput.dll --relative-address --no-inlines
                ${address}
        WORKING_DIRECTORY ${folder} OUTPUT_VARIABLE symbolized_${with_pdb} ERROR_QUIET)
    endforeach()
    set(expected_frame "^CreateAudioOutput\n[^\n]*[/\\\\]plugin[/\\\\]Exports\\.cpp:[1-9][0-9]*:")
    if(NOT symbolized_ON MATCHES "${expected_frame}")
      list(APPEND failures
           "llvm-symbolizer with the DLL and PDB turns RVA ${address} into '${symbolized_ON}', "
           "not CreateAudioOutput in plugin/Exports.cpp with a line")
    endif()
    if(symbolized_OFF MATCHES "Exports\\.cpp")
      list(APPEND failures "ZVAudioOutput.dll carries source lines of its own: '${symbolized_OFF}'")
    endif()
  else()
    list(APPEND failures "ZVAudioOutput.dll: no export CreateAudioOutput")
  endif()
endif()

if(failures)
  list(JOIN failures "\n  " report)
  message(FATAL_ERROR "release archives in ${OUT}:\n  ${report}")
endif()
file(REMOVE_RECURSE ${unpacked})
message(STATUS "release archives in ${OUT}: ${tgz_name} and ${zip_name} check out")
