# The Windows download: Pellamar-<version>-win32.zip (win64 for a 64-bit
# build) in the root of the build tree, holding Pellamar.exe, pellamar-cli.exe,
# README.txt and LICENSE.txt.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(PELLAMAR_ZIP_PLATFORM win64)
  set(PELLAMAR_WINDOWS_BITS 64)
  set(PELLAMAR_WINDOWS_RUNS_ON " for 64-bit Windows")
else()
  set(PELLAMAR_ZIP_PLATFORM win32)
  set(PELLAMAR_WINDOWS_BITS 32)
  set(PELLAMAR_WINDOWS_RUNS_ON "; they run on 32-bit and 64-bit Windows")
endif()
set(PELLAMAR_ZIP ${PROJECT_BINARY_DIR}/Pellamar-${PROJECT_VERSION}-${PELLAMAR_ZIP_PLATFORM}.zip)
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
