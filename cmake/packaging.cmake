# Installation and the Debian package: the window, the command line, a menu
# entry and the icon.
include(GNUInstallDirs)

install(TARGETS pellamar RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/resources/pellamar.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/resources/pellamar.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/32x32/apps)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pellamar)
set(CPACK_PACKAGE_VENDOR "Pellamar developers")
set(CPACK_PACKAGE_CONTACT "Pellamar developers <pellamar@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Batch converter of Bleem! memory cards to VGS memory cards")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The X11 platform plugin and the metric twin of Arial for the credit label.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-qpa-plugins, fonts-liberation")
set(CPACK_STRIP_FILES ON)
include(CPack)
