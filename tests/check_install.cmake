# Installs the build into PREFIX and checks that the program, its launcher, its
# description, its icons, its manual page and its licence land where a Linux desktop looks for them.
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
                RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${result}")
endif()

set(id org.example.TempoCalculator)
foreach(path
    bin/tempo-calculator
    share/applications/${id}.desktop
    share/metainfo/${id}.metainfo.xml
    share/icons/hicolor/16x16/apps/${id}.png
    share/icons/hicolor/32x32/apps/${id}.png
    share/icons/hicolor/scalable/apps/${id}.svg
    share/man/man1/tempo-calculator.1.gz
    share/doc/tempo-calculator/copyright)
  if(NOT EXISTS "${PREFIX}/${path}")
    message(FATAL_ERROR "not installed: ${path}")
  endif()
endforeach()

# The stage box's user unit, naming the program where it was installed.
set(unit "${PREFIX}/share/systemd/user/tempo-calculator.service")
if(NOT EXISTS "${unit}")
  message(FATAL_ERROR "not installed: share/systemd/user/tempo-calculator.service")
endif()
file(STRINGS "${unit}" exec REGEX "^ExecStart=")
if(NOT exec STREQUAL "ExecStart=${PREFIX}/bin/tempo-calculator --headless")
  message(FATAL_ERROR "the unit starts '${exec}', not ${PREFIX}/bin/tempo-calculator --headless")
endif()

file(STRINGS "${PREFIX}/share/applications/${id}.desktop" icon REGEX "^Icon=")
if(NOT icon STREQUAL "Icon=${id}")
  message(FATAL_ERROR "the launcher names the icon '${icon}', not ${id}")
endif()
file(REMOVE_RECURSE "${PREFIX}")
