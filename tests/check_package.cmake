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
# The stage box's unit names the program where the package puts it.
execute_process(COMMAND dpkg-deb --fsys-tarfile "${package}" COMMAND tar -xO ./usr/share/systemd/user/tempo-calculator.service
                OUTPUT_VARIABLE unit RESULT_VARIABLE result)
if(NOT result EQUAL 0 OR NOT unit MATCHES "\nExecStart=/usr/bin/tempo-calculator --headless\n")
  message(FATAL_ERROR "the package's unit does not start /usr/bin/tempo-calculator:\n${unit}")
endif()
execute_process(COMMAND "${LINTIAN}" --fail-on error,warning --display-info --no-tag-display-limit
                        "${package}"
                RESULT_VARIABLE result)
file(REMOVE_RECURSE "${scratch}")
if(NOT result EQUAL 0)
  message(FATAL_ERROR "lintian found errors or warnings in ${package}")
endif()
