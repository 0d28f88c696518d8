# SPDX-License-Identifier: GPL-3.0-or-later
# Where `cmake --install` puts the program, its desktop entry, its icon and its translations,
# and how `cpack -G DEB` packages them. Included once the `zodaru` target exists.
include(GNUInstallDirs)

set(ZODARU_INSTALL_TRANSLATIONSDIR "${CMAKE_INSTALL_DATADIR}/zodaru/translations")

# The program looks for its installed translations beside itself (bin/../share/...), so the
# tree stays relocatable: a package, /usr/local and a private prefix all find them.
file(RELATIVE_PATH ZODARU_TRANSLATIONS_FROM_BIN
     "/${CMAKE_INSTALL_BINDIR}" "/${ZODARU_INSTALL_TRANSLATIONSDIR}")
target_compile_definitions(zodaru PRIVATE
  ZODARU_TRANSLATIONS_FROM_BIN="${ZODARU_TRANSLATIONS_FROM_BIN}")

install(TARGETS zodaru RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
install(FILES resources/desktop/zodaru.desktop
        DESTINATION "${CMAKE_INSTALL_DATADIR}/applications")
install(FILES resources/desktop/zodaru.svg
        DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps")
if(ZODARU_QM_FILES)
  install(FILES ${ZODARU_QM_FILES} DESTINATION "${ZODARU_INSTALL_TRANSLATIONSDIR}")
endif()

set(CPACK_PACKAGE_NAME "zodaru")
set(CPACK_PACKAGE_VENDOR "Zodaru")
set(CPACK_PACKAGE_CONTACT "Zodaru developers <zodaru@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Desktop FTP client with side-by-side local and remote browsers")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "Zodaru shows the local tree and a server's tree side by side in two column browsers,\n"
  "with a download queue and an upload queue. It speaks FTP, in clear or over TLS\n"
  "(explicit and implicit), and remembers saved sites.")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_INSTALL_DIRECTORY "zodaru")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "net")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://zodaru.example.org")
# The Qt, OpenSSL and C++ runtime libraries the program links come from dpkg-shlibdeps
# (package dpkg-dev). What is loaded at run time instead is named here: the SVG icon engine
# and image plugin (the toolbar icons), the xcb platform plugin (in libqt6gui6, already a
# linked library's package).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6svg6")
# Wayland sessions, and Qt's own French texts for standard buttons (Yes, No, OK).
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland, qt6-translations-l10n")
include(CPack)
