# Runs the package check on copies of the package that differ only in the
# minimum engine version of package.json: the forms the engine uses pass, the
# others fail.
#   cmake -DPACKAGE_DIR=... -DCHECK_SCRIPT=... -DWORK_DIR=... -P check_package_versions.cmake
cmake_minimum_required(VERSION 3.25)

set(accepted 2021.3 2022.3 6000.0 6000.3)
set(refused 6000 600.0 2021 6000.0.1 6000.x)
file(READ "${PACKAGE_DIR}/package.json" manifest)
set(failures "")
foreach(version IN LISTS accepted refused)
  set(copy "${WORK_DIR}/${version}/com.zvaudio.output")
  file(REMOVE_RECURSE "${WORK_DIR}/${version}")
  file(COPY "${PACKAGE_DIR}" DESTINATION "${WORK_DIR}/${version}")
  string(JSON changed SET "${manifest}" unity "\"${version}\"")
  file(WRITE "${copy}/package.json" "${changed}")
  execute_process(COMMAND ${CMAKE_COMMAND} -DPACKAGE_DIR=${copy} -P ${CHECK_SCRIPT}
                  RESULT_VARIABLE result OUTPUT_QUIET ERROR_QUIET)
  if(version IN_LIST accepted AND NOT result EQUAL 0)
    list(APPEND failures "unity ${version} refused")
  elseif(version IN_LIST refused AND result EQUAL 0)
    list(APPEND failures "unity ${version} accepted")
  endif()
endforeach()
if(failures)
  message(FATAL_ERROR "package version check: ${failures}")
endif()
message(STATUS "package version check passed")
