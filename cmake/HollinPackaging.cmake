# Debian packages, one per component, with their dependencies worked out by
# dpkg-shlibdeps: cpack -G DEB in a build configured for /usr (./build.sh package).
set(HOLLIN_MAINTAINER "hollin maintainers <maintainers@users.noreply.c-seed-9df072c7.example>")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME hollin)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${HOLLIN_MAINTAINER})
set(CPACK_PACKAGE_VENDOR "hollin")
# No project-wide summary: CPack would put it first in every package's
# description, before the package's own summary line.
set(CPACK_DEBIAN_PACKAGE_SOURCE hollin)
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Our own libraries come from our own packages (the component dependencies
# below); dpkg-shlibdeps finds them in the build.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR}/lib)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
# The stand-ins of the thin-client server's kiosk tools (in /opt) are the
# server's, not ours to ship.
set(CPACK_COMPONENTS_ALL lib dev desktop kiosk tools schema settings)

# name | section | summary | description ("~" ends a line of one wrapped
# paragraph) | depends on lib (no ";" in the texts: it would split the entry)
set(HOLLIN_PACKAGES
  "lib|libs|library of centrally managed desktop policy|libhollin merges the XML policy layers of a configuration component,~answers queries and tells listeners what changed. libvesk reads the~layers from a file store or an LDAP directory.|"
  "dev|libdevel|development files of libhollin|Headers and pkg-config file of libhollin, and the libvesk client~interface.|lib"
  "desktop|x11|desktop programs of centrally managed desktop policy|startlist writes the startup applications of policy as XDG autostart~entries at login, and deskrunner keeps the launchers of policy on the~desktop for the whole session. Both start with the session through~their autostart entries, or deskrunner through its systemd user unit.|lib"
  "kiosk|libs|kiosk plug-in library of centrally managed desktop policy|libvelapps installs the kiosk application list of a thin-client server~from policy and hands it to the server's kiosk tools.|lib"
  "tools|admin|administrator's view of centrally managed desktop policy|hollinctl shows the effective policy of a component, layer by layer,~with the layer that set and the layer that locked each node, and~checks layer files before they are deployed.|lib"
  "schema|net|LDAP schema of centrally managed desktop policy|The OpenLDAP schema (also as LDIF) of a directory that keeps desktop~policy layers.|"
  "settings|admin|desktop settings of centrally managed policy, held by dconf|hollin-dconf applies the settings policy of each user as a dconf system~database with locks and a mandatory profile, written by root, so the~locks hold against the user. Its service and PAM hook are not enabled.|")

foreach(entry ${HOLLIN_PACKAGES})
  string(REPLACE "|" ";" fields "${entry}")
  list(GET fields 0 component)
  list(GET fields 1 section)
  list(GET fields 2 summary)
  list(GET fields 3 description)
  list(LENGTH fields count)
  set(depends "")
  if(count GREATER 4)
    list(GET fields 4 depends)
  endif()
  string(REPLACE "~" "\n" description "${description}")
  string(TOUPPER ${component} upper)
  if(component STREQUAL "lib")
    set(package libhollin0)
  elseif(component STREQUAL "dev")
    set(package libhollin-dev)
  elseif(component STREQUAL "schema")
    set(package hollin-directory-schema)
  elseif(component STREQUAL "tools")
    set(package hollinctl)
  elseif(component STREQUAL "kiosk")
    # The thin-client server loads it: a library package named after it.
    set(package libvelapps0)
  else()
    set(package hollin-${component})
  endif()
  set(CPACK_DEBIAN_${upper}_PACKAGE_NAME ${package})
  set(CPACK_DEBIAN_${upper}_PACKAGE_SECTION ${section})
  set(CPACK_DEBIAN_${upper}_DESCRIPTION "${summary}\n${description}")
  if(depends STREQUAL "lib")
    set(CPACK_COMPONENT_${upper}_DEPENDS lib)
  endif()
  if(component STREQUAL "schema")
    set(CPACK_DEBIAN_${upper}_PACKAGE_ARCHITECTURE all)
  endif()
  # Every package carries the copyright and changelog files Debian asks for.
  install(FILES ${PROJECT_SOURCE_DIR}/dist/copyright
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component})
  install(FILES ${PROJECT_BINARY_DIR}/dist/changelog.gz
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component})
endforeach()

# Packages with shared libraries update the linker cache through dpkg's
# trigger (build.sh drops the maintainer scripts CPack adds to call it once
# more); files in /etc are the administrator's to edit: conffiles.
set(control ${PROJECT_BINARY_DIR}/dist/control)
file(WRITE ${control}/triggers "activate-noawait ldconfig\n")
file(WRITE ${control}/conffiles
  "/etc/xdg/autostart/hollin-deskrunner.desktop\n/etc/xdg/autostart/hollin-startlist.desktop\n")
file(WRITE ${control}/lib/conffiles "/etc/vesk/store.conf\n")
set(CPACK_DEBIAN_LIB_PACKAGE_CONTROL_EXTRA ${control}/triggers ${control}/lib/conffiles)
set(CPACK_DEBIAN_KIOSK_PACKAGE_CONTROL_EXTRA ${control}/triggers)
# Its libraries are private (no linker cache); gvfs keeps the metadata that
# makes desktops trust the launchers.
set(CPACK_DEBIAN_DESKTOP_PACKAGE_CONTROL_EXTRA ${control}/conffiles)
set(CPACK_DEBIAN_DESKTOP_PACKAGE_SUGGESTS gvfs)

# hollin-settings (hollin-dconf with its system unit and PAM profile) is a
# package apart from hollin-desktop: it runs as root, and a machine may want
# one without the other.
set(CPACK_DEBIAN_SETTINGS_PACKAGE_DEPENDS "dconf-cli, dconf-gsettings-backend")

configure_file(${PROJECT_SOURCE_DIR}/dist/changelog ${PROJECT_BINARY_DIR}/dist/changelog @ONLY)
execute_process(COMMAND gzip -9nf ${PROJECT_BINARY_DIR}/dist/changelog)

include(CPack)
