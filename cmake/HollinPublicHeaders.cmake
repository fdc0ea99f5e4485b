# hollin_public_headers([FOLDER folder] HEADERS header...)
# Declares headers a program using the installed libraries includes, in the
# folder of the code they belong to: each is installed under include/hollin
# (in FOLDER below it, when given) with the development files. Everything not
# declared stays inside the build.
function(hollin_public_headers)
  cmake_parse_arguments(H "" "FOLDER" "HEADERS" ${ARGN})
  if(NOT H_HEADERS OR H_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "hollin_public_headers: give HEADERS (and at most a FOLDER)")
  endif()
  set(destination ${CMAKE_INSTALL_INCLUDEDIR}/hollin)
  if(H_FOLDER)
    set(destination ${destination}/${H_FOLDER})
  endif()
  foreach(header ${H_HEADERS})
    get_filename_component(header ${header} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
    # A renamed header stops the configure instead of leaving the package without it.
    if(NOT EXISTS ${header})
      message(FATAL_ERROR "hollin_public_headers: ${header} does not exist")
    endif()
  endforeach()
  install(FILES ${H_HEADERS} DESTINATION ${destination} COMPONENT dev)
endfunction()
