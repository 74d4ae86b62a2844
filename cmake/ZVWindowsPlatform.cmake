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

# ZV_LOGGING_EXPORT_DEF: the same exports as the logging stand-in declares
# them to the linker.
set(ZV_LOGGING_EXPORT_DEF ${ZV_LOGGING_DEF})
if(ZV_LOGGING_DEF MATCHES "msvc-import\\.def$")
  set(ZV_LOGGING_EXPORT_DEF ${ZV_WINDOWS_DEF_DIR}/zv_unity_native_logging.msvc-export.def)
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

# zv_windows_logging_stand_in(<target>)
# Makes <target> export what the platform's logging library exports, and
# nothing else, with an import library that maps the names as the plug-in's
# does, for the tests that link it directly. The linker's own import library
# would name the export alone; dlltool's, made from ZV_LOGGING_DEF, replaces
# it.
function(zv_windows_logging_stand_in target)
  target_sources(${target} PRIVATE ${ZV_LOGGING_EXPORT_DEF})
  if(NOT MINGW)
    return()
  endif()
  target_link_options(${target} PRIVATE "LINKER:--exclude-all-symbols")
  if(NOT CMAKE_DLLTOOL)
    find_program(CMAKE_DLLTOOL NAMES ${ZV_MINGW_TRIPLET}-dlltool dlltool REQUIRED)
  endif()
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_DLLTOOL} --input-def ${ZV_LOGGING_DEF} --dllname zv_unity_native_logging.dll
            --output-lib $<TARGET_LINKER_FILE_NAME:${target}>
    WORKING_DIRECTORY $<TARGET_LINKER_FILE_DIR:${target}>
    COMMENT "Making the import library of ${target} from its export list"
    VERBATIM)
endfunction()

# zv_windows_ship(<target>)
# Makes <target> the DLL that ships: the exports of cmake/windows/<target>.def
# by name and nothing else, a version resource from the project version, and
# its PDB, <name>.pdb, beside it.
function(zv_windows_ship target)
  set(def_file ${ZV_WINDOWS_DEF_DIR}/${target}.def)
  set(rc_file ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc)
  configure_file(${ZV_WINDOWS_DEF_DIR}/${target}.rc.in ${rc_file} @ONLY)
  target_sources(${target} PRIVATE ${rc_file})
  if(MSVC)
    # The record names the PDB without the build folder.
    target_sources(${target} PRIVATE ${def_file})
    target_link_options(${target} PRIVATE /PDBALTPATH:%_PDB%)
    return()
  endif()
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    # GCC writes DWARF, which no PDB can be made from: the DLL keeps it.
    target_sources(${target} PRIVATE ${def_file})
    message(STATUS "${target}: no PDB without Clang and LLD (cmake/toolchain-mingw-w64-x86_64.cmake)")
    return()
  endif()
  # A crash dump carries the CodeView record (GUID, age, PDB name) of every
  # module; WinDbg, Visual Studio and symbol servers find the PDB by them.
  # LLD's MinGW driver hands --Xlink options to its COFF linker as they are
  # (lld/MinGW/Options.td):
  # - the record names the PDB by the absolute path it was written to unless
  #   /pdbaltpath says otherwise; %_PDB% is its file name alone
  #   (lld/COFF/Driver.cpp, parsePDBAltPath);
  # - the GUID is a hash of the PDB's bytes, and the age 1
  #   (llvm/lib/DebugInfo/PDB/Native/PDBFileBuilder.cpp), so a PDB without
  #   build paths gives the same GUID, DLL and PDB in every build of a commit;
  # - relative paths in the PDB (objects, sources mapped to "."), and the
  #   linker's working folder, are written against /pdbsourcepath instead of
  #   the build folder (lld/test/COFF/pdb-relative-source-lines.test). The
  #   export list is passed by a relative path for the same reason: the
  #   linker's command line is kept in the PDB too.
  #
  # The PDB is made from CodeView, which the DLL's own objects and those of
  # the static libraries linked into it are compiled with (the toolchain's
  # default is DWARF), through the launcher that keeps build paths out of
  # Clang's command line, which CodeView records.
  set(objects ${target})
  get_target_property(linked ${target} LINK_LIBRARIES)
  foreach(library IN LISTS linked)
    if(TARGET ${library})
      get_target_property(type ${library} TYPE)
      if(type STREQUAL "STATIC_LIBRARY")
        list(APPEND objects ${library})
      endif()
    endif()
  endforeach()
  set(launcher ${ZV_WINDOWS_DEF_DIR}/compile-relative.sh ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR})
  foreach(part IN LISTS objects)
    target_compile_options(${part} PRIVATE -gcodeview)
    set_target_properties(${part} PROPERTIES
      C_COMPILER_LAUNCHER "${launcher}" CXX_COMPILER_LAUNCHER "${launcher}")
  endforeach()
  file(RELATIVE_PATH def_path ${CMAKE_BINARY_DIR} ${def_file})
  target_link_options(${target} PRIVATE
    # Empty: the DLL's path, relative as Ninja passes it, ending in .pdb.
    "LINKER:--pdb="
    "LINKER:--Xlink=-pdbaltpath:%_PDB%"
    "LINKER:--Xlink=-pdbsourcepath:C:/ZVAudioOutput"
    "LINKER:${def_path}")
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${def_file})

  # With a PDB asked for, LLD keeps the DWARF sections of the objects that
  # bring some (the MinGW runtime's static libraries, built by GCC) in the DLL
  # as well (lld/COFF/InputFiles.cpp keeps ".debug_*" sections whenever
  # /debug is on). The PDB holds everything a debugger needs, so they go after
  # linking; llvm-objcopy --strip-debug removes the ".debug*" sections of a
  # PE image and rewrites the debug directory (the CodeView record that names
  # the PDB) at its new place (llvm/lib/ObjCopy/COFF/COFFWriter.cpp,
  # patchDebugDirectory). The release check refuses a DLL with a ".debug_"
  # section.
  find_program(ZV_LLVM_OBJCOPY NAMES llvm-objcopy llvm-objcopy-14 REQUIRED)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${ZV_LLVM_OBJCOPY} --strip-debug $<TARGET_FILE:${target}>
    COMMENT "Stripping the DWARF sections from ${target}; its PDB keeps the debug information"
    VERBATIM)
endfunction()
