# Reads a DLL's export and import tables with objdump -p and checks them.
#
#   cmake -DOBJDUMP=<objdump> -DDLL=<file.dll> [-DEXPORTS=a;b;c] [-DEXACT=ON]
#         [-DSAME_ADDRESS=a;b] [-DREQUIRED_IMPORTS=x.dll;y.dll]
#         [-DALLOWED_IMPORTS=x.dll;y.dll] -P CheckDllTables.cmake
#
# EXPORTS      names the DLL must export (EXACT: and no others)
# SAME_ADDRESS exports that must resolve to one address
# REQUIRED_IMPORTS / ALLOWED_IMPORTS
#              DLLs it must import / may import besides the Windows system DLLs
cmake_minimum_required(VERSION 3.25)

foreach(required OBJDUMP DLL)
  if(NOT DEFINED ${required})
    message(FATAL_ERROR "CheckDllTables: ${required} is not set")
  endif()
endforeach()
if(NOT EXISTS "${DLL}")
  message(FATAL_ERROR "CheckDllTables: ${DLL} does not exist")
endif()

execute_process(COMMAND ${OBJDUMP} -p ${DLL}
  OUTPUT_VARIABLE dump RESULT_VARIABLE status ERROR_VARIABLE errors)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "CheckDllTables: ${OBJDUMP} -p ${DLL} failed: ${errors}")
endif()
get_filename_component(dll_name ${DLL} NAME)
set(failures "")

# --- exports ---------------------------------------------------------------
# Export Address Table lines:   [   5] +base[   6] 1710 Export RVA
# Name table lines:             [   5] UnityPluginLoad
# The bracketed number of a name is its index in the address table.
string(REPLACE "\n" ";" lines "${dump}")
set(section "")
set(export_names "")
foreach(line IN LISTS lines)
  if(line MATCHES "^Export Address Table -- ")
    set(section address)
  elseif(line MATCHES "^\\[Ordinal/Name Pointer\\] Table")
    set(section names)
  elseif(line STREQUAL "" OR line MATCHES "^[A-Za-z]")
    set(section "")
  elseif(section STREQUAL "address"
         AND line MATCHES "^\t\\[ *([0-9]+)\\] \\+base\\[ *[0-9]+\\] +([0-9a-fA-F]+) ")
    set(address_${CMAKE_MATCH_1} ${CMAKE_MATCH_2})
  elseif(section STREQUAL "names" AND line MATCHES "^\t\\[ *([0-9]+)\\] (.+)$")
    list(APPEND export_names "${CMAKE_MATCH_2}")
    set(export_index_${CMAKE_MATCH_2} ${CMAKE_MATCH_1})
  endif()
endforeach()

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

set(shared_address "")
foreach(name IN LISTS SAME_ADDRESS)
  if(NOT DEFINED export_index_${name})
    continue()
  endif()
  set(address "${address_${export_index_${name}}}")
  if(address STREQUAL "")
    list(APPEND failures "has no address for ${name}")
  elseif(shared_address STREQUAL "")
    set(shared_address ${address})
  elseif(NOT address STREQUAL shared_address)
    list(JOIN SAME_ADDRESS ", " same_names)
    list(APPEND failures "exports ${same_names} at different addresses")
    break()
  endif()
endforeach()

# --- imports ---------------------------------------------------------------
string(REGEX MATCHALL "DLL Name: [^\n]+" import_lines "${dump}")
set(imports "")
foreach(line IN LISTS import_lines)
  string(REGEX REPLACE "^DLL Name: " "" dll "${line}")
  string(STRIP "${dll}" dll)
  string(TOLOWER "${dll}" dll)
  list(APPEND imports ${dll})
endforeach()

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

if(failures)
  list(JOIN failures "\n  " report)
  message(FATAL_ERROR "${dll_name}:\n  ${report}\nexports: ${export_names}\nimports: ${imports}")
endif()
message(STATUS "${dll_name}: exports ${export_names}; imports ${imports}")
