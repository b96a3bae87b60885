# Builds the .deb of the tree BINARY_DIR and unpacks it into TREE, for the
# lint runs. Run with cmake -P.
foreach(variable BINARY_DIR DEB TREE)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "build_package.cmake needs -D${variable}=...")
  endif()
endforeach()

file(REMOVE ${DEB})
execute_process(COMMAND ${CMAKE_COMMAND} --build ${BINARY_DIR} --target package
                COMMAND_ERROR_IS_FATAL ANY)
if(NOT EXISTS ${DEB})
  message(FATAL_ERROR "the package target made no ${DEB}")
endif()
file(REMOVE_RECURSE ${TREE})
file(MAKE_DIRECTORY ${TREE})
execute_process(COMMAND dpkg-deb -x ${DEB} ${TREE} COMMAND_ERROR_IS_FATAL ANY)
