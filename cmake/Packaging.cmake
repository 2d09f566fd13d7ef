# Debian package: cpack -G DEB in a configured build folder.
# The filter and PPD install to the absolute folders the system's CUPS uses,
# so the package needs no maintainer scripts: the scheduler picks the PPD up
# through its driver lister and runs the filter by name.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vexo-printer-driver)
set(CPACK_PACKAGE_VENDOR "Vexo")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "CUPS driver and status monitor for Vexo monochrome laser printers")
set(CPACK_PACKAGE_DESCRIPTION "Print filter, PPD and status monitor for Vexo monochrome laser printers on USB or the network.
The filter turns the gray raster the CUPS filter chain renders into the
printer's JBIG job stream. The status monitor (vexoStateMonitor) shows the
printers' status and toner and edits their Wi-Fi settings; QXLaunchHelper
starts it at login.")
set(CPACK_PACKAGE_CONTACT "Vexo driver maintainers <drivers@vexo.invalid>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Library dependencies (libcups2, libjbig0, libstdc++6, ...) come from
# dpkg-shlibdeps; the rest is the filter chain that feeds the filter.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "cups-daemon, cups-filters, ghostscript")
# The monitor's status texts are Chinese: without a font that has them they show as boxes.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-wqy-microhei | fonts-noto-cjk")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
