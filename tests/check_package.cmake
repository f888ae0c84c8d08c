# Builds the Debian package in a scratch folder and checks it with lintian: an
# error or a warning fails.
set(scratch "${BUILD_DIR}/package-check")
file(REMOVE_RECURSE "${scratch}")
execute_process(COMMAND cpack -G DEB --config "${BUILD_DIR}/CPackConfig.cmake" -B "${scratch}"
                RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cpack failed:\n${output}")
endif()
file(GLOB package "${scratch}/*.deb")
execute_process(COMMAND "${LINTIAN}" --fail-on error,warning --display-info --no-tag-display-limit
                        "${package}"
                RESULT_VARIABLE result)
file(REMOVE_RECURSE "${scratch}")
if(NOT result EQUAL 0)
  message(FATAL_ERROR "lintian found errors or warnings in ${package}")
endif()
