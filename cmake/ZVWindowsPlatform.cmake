# The two platform DLLs as the plug-in imports them on Windows.
#
# The plug-in links against zv_sdk_loader.dll and zv_unity_native_logging.dll
# by name only: their import libraries are made at build time from the export
# lists in cmake/windows, so neither library has to be built or present, and
# any build of them (the real ones or the stand-ins) can be put beside the
# plug-in. With ZV_PLATFORM_SDK_DIR set, the platform's own import libraries
# from that folder are used instead.
#
# The variables below are set in every scope that includes this file; the
# functions only once.
set(ZV_WINDOWS_DEF_DIR ${CMAKE_CURRENT_LIST_DIR}/windows)

set(ZV_PLATFORM_SDK_DIR "" CACHE PATH
    "Folder with the platform's import libraries (zv_sdk_loader.lib, zv_unity_native_logging.lib); empty: made from the export lists")

# The platform builds its logging library with MSVC, so the DLL exports Log
# under MSVC's decoration, whichever compiler builds the plug-in. GNU is for a
# logging library built with GCC or Clang in MinGW mode.
set(ZV_LOGGING_DECORATION MSVC CACHE STRING
    "Decoration under which zv_unity_native_logging.dll exports Log: MSVC or GNU")
set_property(CACHE ZV_LOGGING_DECORATION PROPERTY STRINGS MSVC GNU)

# ZV_LOGGING_DEF: the logging library's export list for this compiler and
# decoration. The plug-in's import library and the stand-in's exports both
# come from it, so the stand-in always exports what the plug-in imports.
if(ZV_LOGGING_DECORATION STREQUAL "MSVC")
  if(MSVC OR CMAKE_CXX_SIMULATE_ID STREQUAL "MSVC")
    set(ZV_LOGGING_DEF ${ZV_WINDOWS_DEF_DIR}/zv_unity_native_logging.msvc.def)
  else()
    # Our compiler references the GCC name; the import library maps it to
    # the MSVC name in the DLL (binutils' "==" import name).
    set(ZV_LOGGING_DEF ${ZV_WINDOWS_DEF_DIR}/zv_unity_native_logging.msvc-import.def)
  endif()
elseif(ZV_LOGGING_DECORATION STREQUAL "GNU")
  if(MSVC OR CMAKE_CXX_SIMULATE_ID STREQUAL "MSVC")
    message(FATAL_ERROR "ZV_LOGGING_DECORATION=GNU needs a GCC or Clang (MinGW) build of the plug-in")
  endif()
  set(ZV_LOGGING_DEF ${ZV_WINDOWS_DEF_DIR}/zv_unity_native_logging.gnu.def)
else()
  message(FATAL_ERROR "ZV_LOGGING_DECORATION must be MSVC or GNU, not '${ZV_LOGGING_DECORATION}'")
endif()

include_guard(GLOBAL)

# zv_windows_import_library(<target> <dll name without .dll> <.def file>)
# Defines the IMPORTED library <target> and the custom target <target>_implib
# that makes its import library.
function(zv_windows_import_library target name def_file)
  if(ZV_PLATFORM_SDK_DIR)
    find_library(ZV_PLATFORM_IMPLIB_${name}
      NAMES ${name} ${name}.dll lib${name}.dll lib${name}
      PATHS ${ZV_PLATFORM_SDK_DIR} PATH_SUFFIXES lib lib/x86_64 x86_64
      NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH REQUIRED)
    set(implib ${ZV_PLATFORM_IMPLIB_${name}})
    add_custom_target(${target}_implib)
  else()
    set(out_dir ${CMAKE_BINARY_DIR}/lib/platform)
    if(MSVC)
      set(implib ${out_dir}/${name}.lib)
      # lib.exe (or llvm-lib) makes an import library from a .def.
      set(make_implib ${CMAKE_AR} /nologo /machine:x64 /def:${def_file} /out:${implib})
    else()
      if(NOT CMAKE_DLLTOOL)
        find_program(CMAKE_DLLTOOL NAMES ${ZV_MINGW_TRIPLET}-dlltool dlltool REQUIRED)
      endif()
      set(implib ${out_dir}/lib${name}.dll.a)
      # dlltool names the library's symbols after the output path: relative
      # to its folder, so that no build path reaches the plug-in's image.
      set(make_implib ${CMAKE_DLLTOOL} --input-def ${def_file} --dllname ${name}.dll
                      --output-lib lib${name}.dll.a)
    endif()
    file(MAKE_DIRECTORY ${out_dir})
    add_custom_command(
      OUTPUT ${implib}
      COMMAND ${make_implib}
      WORKING_DIRECTORY ${out_dir}
      DEPENDS ${def_file}
      COMMENT "Making the import library of ${name}.dll"
      VERBATIM)
    add_custom_target(${target}_implib DEPENDS ${implib})
  endif()
  add_library(${target} SHARED IMPORTED GLOBAL)
  set_target_properties(${target} PROPERTIES IMPORTED_IMPLIB ${implib})
endfunction()

# zv_windows_link_platform(<target>)
# Links <target> against both platform DLLs by name.
function(zv_windows_link_platform target)
  if(NOT TARGET zv_platform_sdk_loader)
    zv_windows_import_library(zv_platform_sdk_loader zv_sdk_loader
      ${ZV_WINDOWS_DEF_DIR}/zv_sdk_loader.def)
    zv_windows_import_library(zv_platform_logging zv_unity_native_logging ${ZV_LOGGING_DEF})
  endif()
  target_link_libraries(${target} PRIVATE zv_platform_sdk_loader zv_platform_logging)
  add_dependencies(${target} zv_platform_sdk_loader_implib zv_platform_logging_implib)
endfunction()

# zv_windows_ship(<target>)
# Makes <target> the DLL that ships: a version resource from the project
# version, and (MinGW) its debug information in <name>.debug beside it, which
# the stripped DLL names and whose build GUID its CodeView record carries.
function(zv_windows_ship target)
  set(rc_file ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc)
  configure_file(${ZV_WINDOWS_DEF_DIR}/${target}.rc.in ${rc_file} @ONLY)
  target_sources(${target} PRIVATE ${rc_file})
  if(MSVC)
    # The record names the PDB without the build folder.
    target_link_options(${target} PRIVATE /PDBALTPATH:%_PDB%)
    return()
  endif()
  # A crash dump carries the CodeView record (GUID, age, file name) of every
  # module. --build-id derives the GUID from the image, so it is the same in
  # every build of one commit and found again in the .debug file made below;
  # .gnu_debuglink names that file, with its CRC, for gdb, addr2line and
  # llvm-symbolizer. The record names no file: ld's --pdb would name one, but
  # GCC's objects carry no CodeView information for that PDB, it records the
  # build's paths, and a DWARF file under the record's name sends
  # llvm-symbolizer to read it as a PDB, which fails.
  set(debug_file $<TARGET_FILE_DIR:${target}>/$<TARGET_FILE_BASE_NAME:${target}>.debug)
  target_link_options(${target} PRIVATE "LINKER:--build-id=sha1")
  # objcopy stamps the current time into a PE header it writes unless
  # SOURCE_DATE_EPOCH says otherwise; 0 is what the linker wrote.
  set(objcopy ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=0 ${CMAKE_OBJCOPY})
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${objcopy} --only-keep-debug $<TARGET_FILE:${target}> ${debug_file}
    COMMAND ${objcopy} --strip-all --add-gnu-debuglink=${debug_file} $<TARGET_FILE:${target}>
    COMMENT "Splitting the debug information of ${target} into its .debug file"
    VERBATIM)
endfunction()
