# hollin_add_test(NAME name SOURCES ... [LIBS ...] [LABELS ...])
# One GoogleTest binary, registered with CTest test by test.
function(hollin_add_test)
  cmake_parse_arguments(T "" "NAME" "SOURCES;LIBS;LABELS" ${ARGN})
  # Sources not written yet are left out, so one test folder in progress does
  # not stop everybody else's configure.
  set(present)
  foreach(src ${T_SOURCES})
    if(IS_ABSOLUTE ${src})
      set(full ${src})
    else()
      set(full ${CMAKE_CURRENT_SOURCE_DIR}/${src})
    endif()
    if(EXISTS ${full})
      list(APPEND present ${src})
    else()
      message(STATUS "${T_NAME}: ${src} missing, left out")
    endif()
  endforeach()
  set(T_SOURCES ${present})
  if(NOT T_SOURCES)
    message(STATUS "${T_NAME}: no test sources yet, skipped")
    return()
  endif()
  add_executable(${T_NAME} ${T_SOURCES} ${PROJECT_SOURCE_DIR}/tests/support/NoKeptCopies.cpp)
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main GTest::gmock Threads::Threads)
  target_compile_definitions(${T_NAME} PRIVATE
    HOLLIN_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    HOLLIN_BINARY_DIR="${PROJECT_BINARY_DIR}")
  # The discovered tests' properties cannot carry a list: several labels are
  # joined into one, which "ctest -L" still selects by any of them (it matches
  # labels as regular expressions).
  string(REPLACE ";" "," labels "${T_LABELS}")
  # No last-known-good copies in the tester's home, nor one test's copy served
  # to another: tests of the copies name their own folder.
  gtest_discover_tests(${T_NAME}
    DISCOVERY_TIMEOUT 120
    PROPERTIES LABELS "${labels}" TIMEOUT 300 ENVIRONMENT "HOLLIN_CACHE_DIR=off")
endfunction()
