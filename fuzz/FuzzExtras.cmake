# What the newer targets need beyond libhollin and the GNOME stand-ins: the
# code under test compiled into the target (so it is instrumented with it),
# its include folders and libraries. Shared by the fuzz build and the
# regression test in tests/reliability.
pkg_check_modules(FUZZ_LDAP REQUIRED IMPORTED_TARGET ldap)
# The retry scheduler is compiled in too: its library links the shared
# libhollin, whose globals would then exist twice beside hollin_internal.
set(FUZZ_KIOSK_SOURCES
  ${PROJECT_SOURCE_DIR}/plugins/velapps/VELAppsWriter.cpp
  ${PROJECT_SOURCE_DIR}/plugins/retry/RetryScheduler.cpp
  ${PROJECT_SOURCE_DIR}/plugins/retry/PolicyCopy.cpp
  ${PROJECT_SOURCE_DIR}/platform/kiosk/kxtools.c)
set(FUZZ_SESSION_SOURCES ${PROJECT_SOURCE_DIR}/plugins/startupApps/SessionConfig.cpp)
set(FUZZ_LDAP_SOURCES ${PROJECT_SOURCE_DIR}/vesk/ldap/LdapEscape.cpp)

# fuzz_target_extras(binary name): for one target, or for "all" of them.
function(fuzz_target_extras binary name)
  if(name STREQUAL "kiosk" OR name STREQUAL "all")
    target_sources(${binary} PRIVATE ${FUZZ_KIOSK_SOURCES})
    target_include_directories(${binary} PRIVATE ${PROJECT_SOURCE_DIR}/plugins/velapps
                                                 ${PROJECT_SOURCE_DIR}/plugins/retry
                                                 ${PROJECT_SOURCE_DIR}/platform/kiosk)
    target_link_libraries(${binary} PRIVATE Threads::Threads)
  endif()
  if(name STREQUAL "session_manual" OR name STREQUAL "all")
    target_sources(${binary} PRIVATE ${FUZZ_SESSION_SOURCES})
    target_include_directories(${binary} PRIVATE ${PROJECT_SOURCE_DIR}/plugins/startupApps)
  endif()
  if(name STREQUAL "ldap_escape" OR name STREQUAL "all")
    target_sources(${binary} PRIVATE ${FUZZ_LDAP_SOURCES})
    target_include_directories(${binary} PRIVATE ${PROJECT_SOURCE_DIR}/vesk/ldap)
    target_link_libraries(${binary} PRIVATE PkgConfig::FUZZ_LDAP)
  endif()
  if(name MATCHES "^hollinctl_" OR name STREQUAL "all")
    target_link_libraries(${binary} PRIVATE hollinctl_core PkgConfig::LIBXML2)
  endif()
endfunction()
