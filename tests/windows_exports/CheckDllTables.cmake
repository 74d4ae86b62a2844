# Reads a DLL's export and import tables with objdump -p and checks them.
#
#   cmake -DOBJDUMP=<objdump> -DDLL=<file.dll> [-DEXPORTS=a;b;c] [-DEXACT=ON]
#         [-DREQUIRED_IMPORTS=x.dll;y.dll]
#         [-DALLOWED_IMPORTS=x.dll;y.dll] [-DPROVIDERS=<dir>/x.dll;<dir>/y.dll]
#         [-DCHARACTERISTICS=DYNAMIC_BASE;NX_COMPAT] -P CheckDllTables.cmake
#
# EXPORTS      names the DLL must export (EXACT: and no others)
# REQUIRED_IMPORTS / ALLOWED_IMPORTS
#              DLLs it must import / may import besides the Windows system DLLs
# PROVIDERS    builds of imported DLLs: each must export every name the DLL
#              imports from a DLL of its file name. Windows refuses to load a
#              DLL with a name missing; Wine loads it and fails only on the call.
# CHARACTERISTICS
#              DllCharacteristics flags the DLL must carry
cmake_minimum_required(VERSION 3.25)

foreach(required OBJDUMP DLL)
  if(NOT DEFINED ${required})
    message(FATAL_ERROR "CheckDllTables: ${required} is not set")
  endif()
endforeach()
if(NOT EXISTS "${DLL}")
  message(FATAL_ERROR "CheckDllTables: ${DLL} does not exist")
endif()

# read_tables(<file> <prefix>): the export names (<prefix>_exports), the
# imported DLLs in lower case (<prefix>_imports), the names imported from each
# (<prefix>_names_<dll>) and the DllCharacteristics flags (<prefix>_flags).
function(read_tables file prefix)
  execute_process(COMMAND ${OBJDUMP} -p ${file}
    OUTPUT_VARIABLE dump RESULT_VARIABLE status ERROR_VARIABLE errors)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "CheckDllTables: ${OBJDUMP} -p ${file} failed: ${errors}")
  endif()
  # Name table lines:             [   5] UnityPluginLoad
  # Import lines, below "DLL Name: x.dll":   91f0    283  GetLastError
  # Flags, below "DllCharacteristics":       DYNAMIC_BASE
  string(REPLACE "\n" ";" lines "${dump}")
  set(section "")
  set(exports "")
  set(imports "")
  set(flags "")
  foreach(line IN LISTS lines)
    if(line MATCHES "^\\[Ordinal/Name Pointer\\] Table")
      set(section names)
    elseif(line MATCHES "^\tDLL Name: (.+)$")
      string(STRIP "${CMAKE_MATCH_1}" dll)
      string(TOLOWER "${dll}" dll)
      list(APPEND imports ${dll})
      set(section imports)
    elseif(line MATCHES "^DllCharacteristics")
      set(section flags)
    elseif(section STREQUAL "flags" AND line MATCHES "^\t+([A-Z_]+)$")
      list(APPEND flags ${CMAKE_MATCH_1})
    elseif(line MATCHES "^[A-Za-z]" OR (line STREQUAL "" AND NOT section STREQUAL "imports"))
      set(section "")
    elseif(section STREQUAL "names" AND line MATCHES "^\t\\[ *([0-9]+)\\] (.+)$")
      list(APPEND exports "${CMAKE_MATCH_2}")
    elseif(section STREQUAL "imports" AND line MATCHES "^\t[0-9a-fA-F]+\t +[0-9]+  (.+)$")
      list(APPEND names_${dll} "${CMAKE_MATCH_1}")
    elseif(section STREQUAL "imports" AND line MATCHES "^ [0-9a-fA-F]+\t")
      # The next descriptor of the import directory.
      set(section "")
    endif()
  endforeach()
  foreach(dll IN LISTS imports)
    set(${prefix}_names_${dll} "${names_${dll}}" PARENT_SCOPE)
  endforeach()
  set(${prefix}_exports "${exports}" PARENT_SCOPE)
  set(${prefix}_imports "${imports}" PARENT_SCOPE)
  set(${prefix}_flags "${flags}" PARENT_SCOPE)
endfunction()

read_tables(${DLL} dll)
set(export_names "${dll_exports}")
set(imports "${dll_imports}")
get_filename_component(dll_name ${DLL} NAME)
set(failures "")

# --- exports ---------------------------------------------------------------

foreach(name IN LISTS EXPORTS)
  if(NOT name IN_LIST export_names)
    list(APPEND failures "does not export ${name}")
  endif()
endforeach()
if(EXACT)
  foreach(name IN LISTS export_names)
    if(NOT name IN_LIST EXPORTS)
      list(APPEND failures "exports ${name}, which is not in its export list")
    endif()
  endforeach()
endif()

# --- imports ---------------------------------------------------------------
# Present on every Windows x86-64 installation.
set(system_dlls kernel32.dll msvcrt.dll ucrtbase.dll ntdll.dll advapi32.dll user32.dll
                bcrypt.dll ws2_32.dll shell32.dll ole32.dll)
string(TOLOWER "${ALLOWED_IMPORTS};${REQUIRED_IMPORTS}" allowed)
foreach(dll IN LISTS imports)
  if(dll IN_LIST system_dlls OR dll IN_LIST allowed OR dll MATCHES "^api-ms-win-")
    continue()
  endif()
  list(APPEND failures "imports ${dll}, which is neither a Windows system DLL nor a platform DLL")
endforeach()
foreach(dll IN LISTS REQUIRED_IMPORTS)
  string(TOLOWER "${dll}" dll_lower)
  if(NOT dll_lower IN_LIST imports)
    list(APPEND failures "does not import ${dll}")
  endif()
endforeach()

foreach(provider IN LISTS PROVIDERS)
  get_filename_component(provider_name ${provider} NAME)
  string(TOLOWER "${provider_name}" provider_key)
  if(NOT EXISTS "${provider}")
    list(APPEND failures "${provider} does not exist")
    continue()
  endif()
  read_tables(${provider} provider)
  foreach(name IN LISTS dll_names_${provider_key})
    if(NOT name IN_LIST provider_exports)
      list(APPEND failures
           "imports ${name} from ${provider_name}, which ${provider} does not export")
    endif()
  endforeach()
endforeach()

# --- image flags -----------------------------------------------------------
foreach(flag IN LISTS CHARACTERISTICS)
  if(NOT flag IN_LIST dll_flags)
    list(APPEND failures "lacks the DllCharacteristics flag ${flag}")
  endif()
endforeach()

if(failures)
  list(JOIN failures "\n  " report)
  message(FATAL_ERROR "${dll_name}:\n  ${report}\nexports: ${export_names}\nimports: ${imports}")
endif()
message(STATUS "${dll_name}: exports ${export_names}; imports ${imports}")
