# hollin_add_test_folder(DIR [BINARY_DIR])
# The one way a folder of tests joins the build (nothing when HOLLIN_TESTS is
# off); a folder that is missing or has no CMakeLists.txt is a configuration
# error, so a moved or renamed folder never drops its tests without a word.
function(hollin_add_test_folder dir)
  if(NOT HOLLIN_TESTS)
    return()
  endif()
  get_filename_component(dir ${dir} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
  if(NOT EXISTS ${dir}/CMakeLists.txt)
    message(FATAL_ERROR "test folder ${dir} or its CMakeLists.txt does not exist")
  endif()
  add_subdirectory(${dir} ${ARGN})
endfunction()

# hollin_add_test(NAME name SOURCES ... [LIBS ...] [LABELS ...])
# One GoogleTest binary, registered with CTest test by test.
function(hollin_add_test)
  cmake_parse_arguments(T "" "NAME" "SOURCES;LIBS;LABELS" ${ARGN})
  # A test source that is not there (renamed, moved) stops the configure
  # rather than leaving its tests out without a word.
  foreach(src ${T_SOURCES})
    if(IS_ABSOLUTE ${src})
      set(full ${src})
    else()
      set(full ${CMAKE_CURRENT_SOURCE_DIR}/${src})
    endif()
    if(NOT EXISTS ${full})
      message(FATAL_ERROR "${T_NAME}: test source ${full} does not exist")
    endif()
  endforeach()
  if(NOT T_SOURCES)
    message(FATAL_ERROR "${T_NAME}: no test sources")
  endif()
  add_executable(${T_NAME} ${T_SOURCES} ${PROJECT_SOURCE_DIR}/tests/support/NoKeptCopies.cpp)
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main GTest::gmock Threads::Threads)
  target_include_directories(${T_NAME} PRIVATE ${PROJECT_SOURCE_DIR}/tests/support)
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

# hollin_add_namespace_test(NAME name COMMAND program [args...] [OPTIONS ...]
#                           [ENVIRONMENT ...] LABELS ... [TIMEOUT seconds])
# A test run by tests/support/run-in-namespace.sh (with its OPTIONS) in a
# private mount namespace; skipped (exit 77) where there is none.
function(hollin_add_namespace_test)
  cmake_parse_arguments(T "" "NAME;TIMEOUT" "COMMAND;OPTIONS;ENVIRONMENT;LABELS" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  add_test(NAME ${T_NAME}
           COMMAND sh ${PROJECT_SOURCE_DIR}/tests/support/run-in-namespace.sh ${T_OPTIONS}
                   ${T_COMMAND})
  set_tests_properties(${T_NAME} PROPERTIES SKIP_RETURN_CODE 77 LABELS "${T_LABELS}"
    TIMEOUT ${T_TIMEOUT} ENVIRONMENT "${T_ENVIRONMENT}")
endfunction()
