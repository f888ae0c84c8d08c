# cpack -G DEB: a package for Debian 12 that depends on Debian's own Qt libraries.
set(CPACK_PACKAGE_NAME tempo-calculator)
set(CPACK_PACKAGE_VENDOR lurano)
set(CPACK_PACKAGE_CONTACT "lurano <lurano@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "measures the tempo of music by tapping")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
# CPack puts the summary first; the lines of the long description stay under 80
# characters.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Press the space bar on every beat of the music; the window shows the
tempo of the latest interval and the running average in quarter-note
beats per minute, whether the taps are quarter, eighth or twelfth notes.")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt's own translations of the message boxes' buttons.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "fonts-nanum")
# Debian's layout: files owned by root, documentation in /usr/share/doc.
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)
