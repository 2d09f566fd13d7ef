# Debian packages, one per component: cpack -G DEB in a configured build folder.
#   driver  printer-driver-vexo   CUPS filter and PPD
#   app     vexo-printer-app      printer application, its service and udev rule
#   monitor vexo-status-monitor   status monitor, login helper, vexo-status
# Library dependencies come from dpkg-shlibdeps on the installed binaries.
set(VEXO_PACKAGE_COMPONENTS driver)
if(TARGET vexo-printer-app)
  list(APPEND VEXO_PACKAGE_COMPONENTS app)
endif()
if(TARGET vexoStateMonitor)
  list(APPEND VEXO_PACKAGE_COMPONENTS monitor)
endif()
set(VEXO_PACKAGE_driver printer-driver-vexo)
set(VEXO_PACKAGE_app vexo-printer-app)
set(VEXO_PACKAGE_monitor vexo-status-monitor)

# The changelog's newest entry is the package version: a release bumps both.
file(STRINGS ${PROJECT_SOURCE_DIR}/packaging/changelog changelog_head LIMIT_COUNT 1)
if(NOT changelog_head MATCHES "^vexo \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "packaging/changelog starts with \"${changelog_head}\", not version ${PROJECT_VERSION}")
endif()
set(VEXO_CHANGELOG_GZ ${PROJECT_BINARY_DIR}/packaging/changelog.gz)
add_custom_command(OUTPUT ${VEXO_CHANGELOG_GZ}
  COMMAND sh -c "gzip -9nc < \"$0\" > \"$1\"" ${PROJECT_SOURCE_DIR}/packaging/changelog ${VEXO_CHANGELOG_GZ}
  DEPENDS ${PROJECT_SOURCE_DIR}/packaging/changelog
  VERBATIM)
add_custom_target(package_changelog ALL DEPENDS ${VEXO_CHANGELOG_GZ})

foreach(component IN LISTS VEXO_PACKAGE_COMPONENTS)
  set(doc ${CMAKE_INSTALL_DATADIR}/doc/${VEXO_PACKAGE_${component}})
  install(FILES packaging/copyright DESTINATION ${doc} COMPONENT ${component})
  # A native package: the changelog is changelog.gz, not changelog.Debian.gz.
  install(FILES ${VEXO_CHANGELOG_GZ} DESTINATION ${doc} COMPONENT ${component})
  set(overrides ${PROJECT_SOURCE_DIR}/packaging/lintian/${VEXO_PACKAGE_${component}})
  if(EXISTS ${overrides})
    install(FILES ${overrides} DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides COMPONENT ${component})
  endif()
endforeach()

if(TARGET vexo-printer-app)
  install(FILES packaging/systemd/vexo-printer-app.service DESTINATION ${VEXO_SYSTEMD_UNIT_DIR} COMPONENT app)
  install(FILES packaging/udev/70-vexo-printer-app.rules DESTINATION ${VEXO_UDEV_RULES_DIR} COMPONENT app)
endif()
if(TARGET vexoStateMonitor)
  install(FILES packaging/metainfo/com.vexo.statusmonitor.metainfo.xml
          DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo COMPONENT monitor)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vexo)
set(CPACK_PACKAGE_VENDOR "Vexo")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Vexo driver maintainers <drivers@vexo.invalid>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_COMPONENTS_ALL ${VEXO_PACKAGE_COMPONENTS})
set(CPACK_DEB_COMPONENT_INSTALL ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_DEBIAN_DRIVER_PACKAGE_NAME ${VEXO_PACKAGE_driver})
set(CPACK_DEBIAN_DRIVER_PACKAGE_SECTION text)
# The filter reads raster: cups-filters turns documents into it.
set(CPACK_DEBIAN_DRIVER_PACKAGE_DEPENDS "cups-filters")
set(CPACK_DEBIAN_DRIVER_DESCRIPTION "CUPS driver for Vexo monochrome laser printers
The CUPS filter rastertovexo and the PPD for Vexo monochrome laser printers
on USB or the network. The filter turns the gray raster that the CUPS filter
chain renders into the printer's JBIG job stream.
.
The printer application in vexo-printer-app prints to the same printers
without a driver; vexo-status-monitor shows their status and toner.")

set(CPACK_DEBIAN_APP_PACKAGE_NAME ${VEXO_PACKAGE_app})
set(CPACK_DEBIAN_APP_PACKAGE_SECTION utils)
# Without mDNS the print dialogs and CUPS do not find the printers it offers.
set(CPACK_DEBIAN_APP_PACKAGE_RECOMMENDS "avahi-daemon")
set(CPACK_DEBIAN_APP_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/packaging/debian/app/postinst
    ${PROJECT_SOURCE_DIR}/packaging/debian/app/prerm
    ${PROJECT_SOURCE_DIR}/packaging/debian/app/postrm)
set(CPACK_DEBIAN_APP_DESCRIPTION "driverless IPP printing for Vexo monochrome laser printers
A printer application: a small IPP Everywhere server that offers Vexo
monochrome laser printers on USB or the network to CUPS, desktop print
dialogs, phones and other computers, with no driver on the client. It reports
the printers' state and toner over IPP and has a web page for settings.
.
It runs as the service vexo-printer-app, which starts at boot and when a
printer is plugged in.")

set(CPACK_DEBIAN_MONITOR_PACKAGE_NAME ${VEXO_PACKAGE_monitor})
set(CPACK_DEBIAN_MONITOR_PACKAGE_SECTION utils)
# The monitor's status texts are Chinese: without a font that has them they show as boxes.
set(CPACK_DEBIAN_MONITOR_PACKAGE_RECOMMENDS "fonts-wqy-microhei | fonts-noto-cjk")
set(CPACK_DEBIAN_MONITOR_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/packaging/debian/monitor/postinst
    ${PROJECT_SOURCE_DIR}/packaging/debian/monitor/postrm)
set(CPACK_DEBIAN_MONITOR_DESCRIPTION "status monitor for Vexo monochrome laser printers
Finds the Vexo printers on USB and on the local networks and shows the
selected printer's status, advice and toner level. For a USB printer with
Wi-Fi it reads and changes the printer's wireless settings.
.
The package has the window (vexoStateMonitor), the command line front end
vexo-status, and QXLaunchHelper, which starts the window at login when the
user asks for it. A udev rule gives the user at the seat access to the
printer's USB device.")

include(CPack)
