# The Windows download: Pellamar-<version>-win32.zip of the 32-bit build,
# Pellamar-<version>-win64.zip of the 64-bit one, in the root of the build
# tree, holding Pellamar.exe, pellamar-cli.exe, README.txt and LICENSE.txt.
# make package builds both; each README.txt names the other zip for the
# other Windows.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(PELLAMAR_WINDOWS_BITS 64)
  set(PELLAMAR_OTHER_WINDOWS_BITS 32)
else()
  set(PELLAMAR_WINDOWS_BITS 32)
  set(PELLAMAR_OTHER_WINDOWS_BITS 64)
endif()
set(PELLAMAR_ZIP_NAME Pellamar-${PROJECT_VERSION}-win${PELLAMAR_WINDOWS_BITS}.zip)
set(PELLAMAR_OTHER_ZIP_NAME Pellamar-${PROJECT_VERSION}-win${PELLAMAR_OTHER_WINDOWS_BITS}.zip)
set(PELLAMAR_ZIP ${PROJECT_BINARY_DIR}/${PELLAMAR_ZIP_NAME})
set(PELLAMAR_ZIP_STAGE ${PROJECT_BINARY_DIR}/zip)

# Windows line ends, so that any editor shows the texts as written.
configure_file(${PROJECT_SOURCE_DIR}/resources/windows-readme.txt
               ${PELLAMAR_ZIP_STAGE}/README.txt @ONLY NEWLINE_STYLE CRLF)
configure_file(${PROJECT_SOURCE_DIR}/LICENSE ${PELLAMAR_ZIP_STAGE}/LICENSE.txt
               @ONLY NEWLINE_STYLE CRLF)

add_custom_command(
  OUTPUT ${PELLAMAR_ZIP}
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:Pellamar> ${PELLAMAR_ZIP_STAGE}/Pellamar.exe
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:pellamar-cli>
          ${PELLAMAR_ZIP_STAGE}/pellamar-cli.exe
  COMMAND ${CMAKE_COMMAND} -E rm -f ${PELLAMAR_ZIP}
  COMMAND ${CMAKE_COMMAND} -E tar cf ${PELLAMAR_ZIP} --format=zip Pellamar.exe pellamar-cli.exe
          README.txt LICENSE.txt
  WORKING_DIRECTORY ${PELLAMAR_ZIP_STAGE}
  DEPENDS Pellamar pellamar-cli ${PELLAMAR_ZIP_STAGE}/README.txt
          ${PELLAMAR_ZIP_STAGE}/LICENSE.txt
  COMMENT "Packing ${PELLAMAR_ZIP}"
  VERBATIM)
add_custom_target(windows_zip ALL DEPENDS ${PELLAMAR_ZIP})
