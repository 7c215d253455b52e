# Installs the build into a fresh directory and checks that the program is
# all that is installed: <prefix>/bin/xform1.
# Run with -DBUILD_DIR=<build directory> -DPREFIX=<scratch directory>.
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
                RESULT_VARIABLE status OUTPUT_QUIET)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "install failed: ${status}")
endif()
file(GLOB_RECURSE installed LIST_DIRECTORIES false RELATIVE "${PREFIX}" "${PREFIX}/*")
file(REMOVE_RECURSE "${PREFIX}")
if(NOT installed STREQUAL "bin/xform1")
  message(FATAL_ERROR "installed files: '${installed}', expected only 'bin/xform1'")
endif()
