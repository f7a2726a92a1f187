# Installation rules and the Debian package (cpack -G DEB in a build directory).
include(GNUInstallDirs)

set(MERIVAL_ASSETS ${PROJECT_SOURCE_DIR}/assets)
set(MERIVAL_PACKAGING ${PROJECT_SOURCE_DIR}/packaging)

# The program and the console tools, whichever this build defines.
foreach(program merival merival-poll merival-export merival-history merival-sim)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()

# The measurement window reads instrum1.bmp from the working directory; the program copies
# this one into its own folder when the menu entry starts it.
if(EXISTS ${MERIVAL_ASSETS}/instrum1.bmp)
  install(FILES ${MERIVAL_ASSETS}/instrum1.bmp DESTINATION ${CMAKE_INSTALL_DATADIR}/merival)
endif()

if(EXISTS ${MERIVAL_ASSETS}/merival.desktop)
  install(FILES ${MERIVAL_ASSETS}/merival.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
elseif(EXISTS ${MERIVAL_PACKAGING}/merival.desktop.in)
  configure_file(${MERIVAL_PACKAGING}/merival.desktop.in ${CMAKE_BINARY_DIR}/merival.desktop COPYONLY)
  install(FILES ${CMAKE_BINARY_DIR}/merival.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
endif()

if(EXISTS ${MERIVAL_ASSETS}/merival.png)
  install(FILES ${MERIVAL_ASSETS}/merival.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/64x64/apps)
endif()
if(EXISTS ${MERIVAL_ASSETS}/merival.svg)
  install(FILES ${MERIVAL_ASSETS}/merival.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
endif()

# Maintainer of the package: a plant that builds its own sets its address here.
set(MERIVAL_MAINTAINER "MERIVAL developers <merival@example.org>"
    CACHE STRING "Maintainer of the Debian package: name <address>")

install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})

if(UNIX)
  include(${CMAKE_CURRENT_LIST_DIR}/DebianDocs.cmake)
endif()

# The headless gateway, one instance per line directory (merival-poll@<escaped path>).
if(TARGET merival-poll AND EXISTS ${MERIVAL_PACKAGING}/merival-poll@.service)
  install(FILES ${MERIVAL_PACKAGING}/merival-poll@.service DESTINATION lib/systemd/system)
endif()

# Debian package.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME merival)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# The package's own revision: the changelog.Debian entry of this version.
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_PACKAGE_VENDOR "MERIVAL")
set(CPACK_PACKAGE_CONTACT "${MERIVAL_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Water-quality instrument supervision over a Modbus RTU serial line")
# Lines of at most 80 characters, as dpkg shows them.
set(CPACK_PACKAGE_DESCRIPTION
    "MERIVAL polls up to four measuring stations (resistivity, conductivity, pH,\n\
redox, oxygen, flow, chlorine, turbidity, oxidant analysers) once per second\n\
over one serial line with Modbus RTU, shows their values, edits the channel and\n\
serial settings, and exports data-logger files into spreadsheet text files.\n\
French user interface. Keeps a history of every value with trend curves and\n\
CSV export, raises process alarms, publishes to an MQTT broker, shows the\n\
traffic of the line and serves a web view with Prometheus metrics. Includes\n\
the console tools merival-poll, merival-export, merival-history and\n\
merival-sim, and a systemd unit running merival-poll as a gateway that\n\
publishes to MQTT.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${MERIVAL_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Library dependencies are read from the binaries by dpkg-shlibdeps when it is there;
# otherwise the Qt 6 runtime packages are named outright.
# The web view's curves load the chart library from its Debian package at run time.
find_program(MERIVAL_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(MERIVAL_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libjs-dygraphs")
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS
      "libqt6core6 (>= 6.4), libqt6gui6 (>= 6.4), libqt6widgets6 (>= 6.4), libqt6serialport6 (>= 6.4), libqt6network6 (>= 6.4), libqt6httpserver6 (>= 6.4), libqt6websockets6 (>= 6.4), libsodium23, libjs-dygraphs, libstdc++6, libc6")
endif()
# The French texts of Qt's own buttons ("Oui", "Non") are a separate package.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n")
include(CPack)
