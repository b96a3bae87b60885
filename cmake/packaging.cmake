# Installation and the Debian package: the window, the command line, their
# manual pages, a menu entry, the icon, the software-centre entry, the
# copyright file and the changelog.
include(GNUInstallDirs)

# The release comes from the newest entry of debian/changelog, which must name
# this project's version: the package, the manual pages and the metainfo all
# carry the same version and date.
file(STRINGS ${PROJECT_SOURCE_DIR}/debian/changelog PELLAMAR_CHANGELOG_HEAD LIMIT_COUNT 1)
file(STRINGS ${PROJECT_SOURCE_DIR}/debian/changelog PELLAMAR_CHANGELOG_SIGNATURE
     REGEX "^ -- " LIMIT_COUNT 1)
if(NOT PELLAMAR_CHANGELOG_HEAD MATCHES "^pellamar \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "debian/changelog does not start with version ${PROJECT_VERSION}")
endif()
if(NOT PELLAMAR_CHANGELOG_SIGNATURE MATCHES
   ">  [A-Z][a-z][a-z], ([0-9][0-9]) ([A-Z][a-z][a-z]) ([0-9][0-9][0-9][0-9]) ")
  message(FATAL_ERROR "debian/changelog: no date in '${PELLAMAR_CHANGELOG_SIGNATURE}'")
endif()
set(PELLAMAR_RELEASE_DAY ${CMAKE_MATCH_1})
set(PELLAMAR_RELEASE_YEAR ${CMAKE_MATCH_3})
set(PELLAMAR_MONTH_NAMES Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
set(PELLAMAR_MONTH_LONG_NAMES January February March April May June July August September
    October November December)
list(FIND PELLAMAR_MONTH_NAMES ${CMAKE_MATCH_2} PELLAMAR_MONTH_INDEX)
list(GET PELLAMAR_MONTH_LONG_NAMES ${PELLAMAR_MONTH_INDEX} PELLAMAR_RELEASE_MONTH_NAME)
math(EXPR PELLAMAR_RELEASE_MONTH "${PELLAMAR_MONTH_INDEX} + 1" OUTPUT_FORMAT DECIMAL)
if(PELLAMAR_RELEASE_MONTH LESS 10)
  set(PELLAMAR_RELEASE_MONTH 0${PELLAMAR_RELEASE_MONTH})
endif()
set(PELLAMAR_RELEASE_DATE ${PELLAMAR_RELEASE_YEAR}-${PELLAMAR_RELEASE_MONTH}-${PELLAMAR_RELEASE_DAY})
# The month and year on the manual pages, "December 2026".
set(PELLAMAR_RELEASE_MONTH "${PELLAMAR_RELEASE_MONTH_NAME} ${PELLAMAR_RELEASE_YEAR}")

find_program(HELP2MAN help2man REQUIRED)
find_program(GZIP gzip REQUIRED)

set(PELLAMAR_DOC_DIR ${PROJECT_BINARY_DIR}/doc)
set(PELLAMAR_METAINFO org.example.Pellamar.metainfo.xml)
configure_file(${PROJECT_SOURCE_DIR}/resources/pellamar.1.in ${PELLAMAR_DOC_DIR}/pellamar.1 @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/resources/${PELLAMAR_METAINFO}.in
               ${PELLAMAR_DOC_DIR}/${PELLAMAR_METAINFO} @ONLY)

# pellamar-cli's page is written from its own --help and --version, so that
# the two never disagree. help2man dates it with SOURCE_DATE_EPOCH: the
# release date, not the day of the build.
execute_process(COMMAND date -u -d "${PELLAMAR_RELEASE_DATE}" +%s
                OUTPUT_VARIABLE PELLAMAR_RELEASE_EPOCH OUTPUT_STRIP_TRAILING_WHITESPACE
                COMMAND_ERROR_IS_FATAL ANY)
add_custom_command(
  OUTPUT ${PELLAMAR_DOC_DIR}/pellamar-cli.1.gz
  COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${PELLAMAR_RELEASE_EPOCH}
          ${HELP2MAN} --no-info --section=1
          --name "convert Bleem! memory cards to Virtual Game Station memory cards"
          --include=${PROJECT_SOURCE_DIR}/resources/pellamar-cli.h2m
          --output=pellamar-cli.1 $<TARGET_FILE:pellamar-cli>
  COMMAND ${GZIP} -9nf pellamar-cli.1
  WORKING_DIRECTORY ${PELLAMAR_DOC_DIR}
  DEPENDS pellamar-cli ${PROJECT_SOURCE_DIR}/resources/pellamar-cli.h2m
  COMMENT "Writing the manual page of pellamar-cli"
  VERBATIM)

# Debian wants every manual page and the changelog compressed with gzip -9n.
add_custom_command(
  OUTPUT ${PELLAMAR_DOC_DIR}/pellamar.1.gz
  COMMAND ${GZIP} -9nkf pellamar.1
  WORKING_DIRECTORY ${PELLAMAR_DOC_DIR}
  DEPENDS ${PELLAMAR_DOC_DIR}/pellamar.1
  VERBATIM)
add_custom_command(
  OUTPUT ${PELLAMAR_DOC_DIR}/changelog.gz
  COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/debian/changelog changelog
  COMMAND ${GZIP} -9nf changelog
  WORKING_DIRECTORY ${PELLAMAR_DOC_DIR}
  DEPENDS ${PROJECT_SOURCE_DIR}/debian/changelog
  VERBATIM)
add_custom_target(pellamar_docs ALL DEPENDS ${PELLAMAR_DOC_DIR}/pellamar-cli.1.gz
                  ${PELLAMAR_DOC_DIR}/pellamar.1.gz ${PELLAMAR_DOC_DIR}/changelog.gz)

install(TARGETS pellamar RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/resources/pellamar.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/resources/pellamar.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/32x32/apps)
install(FILES ${PELLAMAR_DOC_DIR}/${PELLAMAR_METAINFO} DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${PELLAMAR_DOC_DIR}/pellamar.1.gz ${PELLAMAR_DOC_DIR}/pellamar-cli.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_SOURCE_DIR}/debian/copyright ${PELLAMAR_DOC_DIR}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/pellamar)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pellamar)
set(CPACK_PACKAGE_VENDOR "The Pellamar developers")
set(CPACK_PACKAGE_CONTACT "The Pellamar developers <pellamar@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "batch converter of Bleem! memory cards (.mcd) to Virtual Game Station (.mem)")
set(CPACK_PACKAGE_DESCRIPTION
    "Pellamar converts, in one batch, every Bleem! memory card file (.mcd) of a
folder to a Virtual Game Station memory card (.mem), so that PlayStation
emulator save games move from one emulator to the other. Each .mem is written
beside its .mcd and holds the card's bytes unchanged behind a 64-byte header.

The package holds a small Qt window, pellamar, and the same batch conversion
for a terminal or a script, pellamar-cli. A .mem is never left half-written,
a read-only one is left alone, and empty or unreadable cards are skipped and
reported.")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${PELLAMAR_HOME_PAGE})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The X11 platform plugin and the metric twin of Arial for the credit label.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-qpa-plugins, fonts-liberation")
# Files 0644 and programs 0755, whatever the umask of the build.
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
    GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_STRIP_FILES ON)
include(CPack)
