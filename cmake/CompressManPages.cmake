# Run by CPack once the components are staged, before it builds the packages: Debian keeps
# manual pages compressed.
file(GLOB_RECURSE pages "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*.[1-9]")
list(FILTER pages INCLUDE REGEX "/share/man/man[1-9]/[^/]+$")
foreach(page IN LISTS pages)
  execute_process(COMMAND gzip -9nf "${page}" RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "cannot compress ${page}")
  endif()
endforeach()
