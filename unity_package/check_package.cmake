# Checks the package as the engine will import it:
#   cmake -DPACKAGE_DIR=<path>/com.zvaudio.output -P check_package.cmake
# - every imported file and folder has a .meta with a 32-hex-digit GUID,
# - no two .meta files share a GUID,
# - no .meta lacks its asset, except the plug-in's own import settings where
#   the DLL is not staged (in a repository checkout; the release tarball
#   carries it): the package never brings settings for a file it does not ship,
#   which the engine would warn about on every refresh of a read-only package,
# - the plug-in is enabled for the Editor and Standalone on Windows x86-64
#   only and is not preloaded: it loads at its first call, after the platform
#   DLLs it imports, which the user sets to load on startup,
# - package.json names the package, its version, the engine version it needs
#   (2021.3, 6000.0, ...) and its dependency; each sample it declares exists,
#   in a folder the engine does not import,
# - the engine-independent sources under Runtime/Core and Editor/Core, and the
#   package's tests (which the Mono runner runs too), use no engine types.
cmake_minimum_required(VERSION 3.25)

if(NOT DEFINED PACKAGE_DIR OR NOT IS_DIRECTORY "${PACKAGE_DIR}")
  message(FATAL_ERROR "PACKAGE_DIR must name the package folder")
endif()

set(staged_dlls Runtime/Plugins/x86_64/ZVAudioOutput.dll)
set(failures "")

function(fail text)
  set(failures "${failures}\n  ${text}" PARENT_SCOPE)
endfunction()

# The engine skips hidden entries, backups ending in "~", "cvs" folders and
# .tmp files, and everything below a skipped folder.
function(is_imported relative result)
  set(imported TRUE)
  string(REPLACE "/" ";" parts "${relative}")
  foreach(part IN LISTS parts)
    string(TOLOWER "${part}" lower)
    if(part MATCHES "^\\." OR part MATCHES "~$" OR lower STREQUAL "cvs" OR lower MATCHES "\\.tmp$")
      set(imported FALSE)
    endif()
  endforeach()
  set(${result} ${imported} PARENT_SCOPE)
endfunction()

file(GLOB_RECURSE entries LIST_DIRECTORIES true RELATIVE "${PACKAGE_DIR}" "${PACKAGE_DIR}/*")
list(SORT entries)
set(guids "")
foreach(entry IN LISTS entries)
  is_imported("${entry}" imported)
  if(NOT imported)
    continue()
  endif()
  if(entry MATCHES "\\.meta$")
    string(REGEX REPLACE "\\.meta$" "" asset "${entry}")
    if(NOT EXISTS "${PACKAGE_DIR}/${asset}" AND NOT asset IN_LIST staged_dlls)
      fail("${entry}: no ${asset} beside it")
    endif()
    file(STRINGS "${PACKAGE_DIR}/${entry}" guid_lines REGEX "^guid:")
    list(LENGTH guid_lines guid_count)
    if(NOT guid_count EQUAL 1 OR NOT guid_lines MATCHES "^guid: [0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f]$")
      fail("${entry}: needs exactly one line 'guid: <32 lower-case hex digits>'")
      continue()
    endif()
    string(SUBSTRING "${guid_lines}" 6 32 guid)
    if(guid IN_LIST guids)
      fail("${entry}: GUID ${guid} is used twice")
    endif()
    list(APPEND guids ${guid})
    file(READ "${PACKAGE_DIR}/${entry}" meta)
    if(IS_DIRECTORY "${PACKAGE_DIR}/${asset}" AND NOT meta MATCHES "folderAsset: yes")
      fail("${entry}: a folder's .meta needs 'folderAsset: yes'")
    endif()
  elseif(NOT EXISTS "${PACKAGE_DIR}/${entry}.meta")
    fail("${entry}: no .meta")
  endif()
endforeach()

# Import settings of the plug-in: Windows x86-64 only, loaded at its first call.
foreach(dll IN LISTS staged_dlls)
  set(meta_path "${PACKAGE_DIR}/${dll}.meta")
  if(NOT EXISTS "${meta_path}")
    fail("${dll}.meta: missing")
    continue()
  endif()
  file(READ "${meta_path}" meta)
  if(NOT meta MATCHES "PluginImporter:" OR NOT meta MATCHES "\n  isPreloaded: 0\n")
    fail("${dll}.meta: needs a PluginImporter with isPreloaded: 0")
  endif()
  if(NOT meta MATCHES "Editor: Editor\n    second:\n      enabled: 1\n      settings:\n        CPU: x86_64\n        DefaultValueInitialized: true\n        OS: Windows\n")
    fail("${dll}.meta: the Editor must be enabled for Windows x86_64")
  endif()
  if(NOT meta MATCHES "Standalone: Win64\n    second:\n      enabled: 1\n      settings:\n        CPU: x86_64\n")
    fail("${dll}.meta: Standalone Win64 must be enabled")
  endif()
  string(REGEX MATCHALL "enabled: 1" enabled_platforms "${meta}")
  list(LENGTH enabled_platforms enabled_count)
  if(NOT enabled_count EQUAL 2)
    fail("${dll}.meta: ${enabled_count} platforms enabled, expected only Editor and Win64")
  endif()
endforeach()

file(READ "${PACKAGE_DIR}/package.json" manifest)
string(JSON name ERROR_VARIABLE json_error GET "${manifest}" name)
if(json_error)
  fail("package.json: ${json_error}")
else()
  string(JSON version GET "${manifest}" version)
  string(JSON unity GET "${manifest}" unity)
  string(JSON audio ERROR_VARIABLE audio_error GET "${manifest}" dependencies com.unity.modules.audio)
  if(NOT name MATCHES "^com\\.[a-z0-9-]+\\.[a-z0-9.-]+$")
    fail("package.json: name '${name}' is not a reverse-domain name")
  endif()
  if(NOT version MATCHES "^[0-9]+\\.[0-9]+\\.[0-9]+$")
    fail("package.json: version '${version}' is not major.minor.patch")
  endif()
  if(NOT unity MATCHES "^(20[0-9][0-9]|[6-9]000)\\.[0-9]+$")
    fail("package.json: unity '${unity}' is not a minimum engine version")
  endif()
  if(audio_error)
    fail("package.json: no dependency on com.unity.modules.audio")
  endif()
  string(JSON sample_count ERROR_VARIABLE samples_error LENGTH "${manifest}" samples)
  if(samples_error)
    set(sample_count 0)
  endif()
  if(sample_count GREATER 0)
    math(EXPR last "${sample_count} - 1")
    foreach(i RANGE ${last})
      string(JSON sample_path ERROR_VARIABLE sample_error GET "${manifest}" samples ${i} path)
      string(JSON sample_name ERROR_VARIABLE name_error GET "${manifest}" samples ${i} displayName)
      if(sample_error OR name_error OR NOT sample_path MATCHES "^Samples~/[^/]+$"
         OR NOT IS_DIRECTORY "${PACKAGE_DIR}/${sample_path}")
        fail("package.json: sample ${i} needs a displayName and a path Samples~/<folder> that exists")
      endif()
    endforeach()
  endif()
endif()

file(GLOB core_sources "${PACKAGE_DIR}/Runtime/Core/*.cs" "${PACKAGE_DIR}/Editor/Core/*.cs"
     "${PACKAGE_DIR}/Tests/Runtime/*.cs" "${PACKAGE_DIR}/Tests/Editor/*.cs")
foreach(source IN LISTS core_sources)
  file(STRINGS "${source}" engine_lines REGEX "UnityEngine|UnityEditor")
  if(engine_lines)
    file(RELATIVE_PATH shown "${PACKAGE_DIR}" "${source}")
    fail("${shown}: must not use engine types (the Mono tests compile it without the engine)")
  endif()
endforeach()

if(failures)
  message(FATAL_ERROR "package check failed:${failures}")
endif()
list(LENGTH guids guid_total)
message(STATUS "package check passed: ${guid_total} .meta files")
