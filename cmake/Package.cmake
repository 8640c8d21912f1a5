# Install rules and the Debian package. `scripts/package` configures a build without tests and
# benchmarks and runs CPack, which gives qvconfig_<version>_amd64.deb; the version is the
# project's. Tests, benchmarks and fuzz targets have no install rules: they are never packaged.
include(GNUInstallDirs)

foreach(program qvconfig qvcli qvsim)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()
set(QV_DATA ${PROJECT_SOURCE_DIR}/data)
install(FILES ${QV_DATA}/qvconfig.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${QV_DATA}/qvconfig.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${QV_DATA}/man/qvconfig.1 ${QV_DATA}/man/qvcli.1 ${QV_DATA}/man/qvsim.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${QV_DATA}/copyright ${QV_DATA}/changelog
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/qvconfig)

set(QV_PACKAGE_MAINTAINER "qvconfig developers <qvconfig@users.noreply.invalid>"
    CACHE STRING "Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME qvconfig)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "configuration and commissioning tool for CAN motor controllers")
# The synopsis is the summary; CPack indents the text below it and marks its empty line.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "qvconfig configures, monitors and commissions a family of electric-vehicle
motor controllers and chargers, reached through CAN-Ethernet bridges on the
local network (CAN frames in UDP multicast datagrams, and a TCP path).

The package holds the desktop program qvconfig, the command line qvcli for
scripts (bus monitor, telemetry, configuration download and upload, fits)
and the simulator qvsim of a bridge and its controllers for trying both.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${QV_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
# Depends: from the shared libraries the programs link against (dpkg-shlibdeps).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Man pages and the changelog are compressed in the staging tree, as Debian wants them.
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/PackageCompress.cmake)
include(CPack)
