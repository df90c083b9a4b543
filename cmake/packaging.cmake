# What `cmake --install` puts beside the program on a Linux desktop, and the Debian package
# that CPack makes of it (scripts/package). The program's translations are compiled into it,
# so no catalogue file is installed.

if(NOT (UNIX AND NOT APPLE))
    return()
endif()

include(GNUInstallDirs)

set(PYLON_RESOURCES ${PROJECT_SOURCE_DIR}/resources)
set(PYLON_PACKAGE_NAME pylon-router)
# The AppStream component id: the publisher's domain reversed, hyphens made underscores.
set(PYLON_APPSTREAM_ID example.pylon_router.PylonRouter)
set(PYLON_METAINFO ${PYLON_RESOURCES}/${PYLON_APPSTREAM_ID}.metainfo.xml)
set(PYLON_CHANGELOG ${PYLON_RESOURCES}/debian/changelog)

# A release without its entry in the AppStream data and the package changelog would be
# published with the previous version's.
file(STRINGS ${PYLON_METAINFO} PYLON_METAINFO_RELEASE REGEX "<release version=" LIMIT_COUNT 1)
if(NOT PYLON_METAINFO_RELEASE MATCHES "version=\"${PROJECT_VERSION}\"")
    message(FATAL_ERROR "${PYLON_METAINFO}: the first <release> is not version ${PROJECT_VERSION}")
endif()
file(STRINGS ${PYLON_CHANGELOG} PYLON_CHANGELOG_TOP LIMIT_COUNT 1)
if(NOT PYLON_CHANGELOG_TOP MATCHES "^${PYLON_PACKAGE_NAME} \\(${PROJECT_VERSION}\\) ")
    message(FATAL_ERROR "${PYLON_CHANGELOG}: the first entry is not version ${PROJECT_VERSION}")
endif()

# The desktop entry, the icons of the hicolor theme and the AppStream data.
install(FILES ${PYLON_RESOURCES}/pylon-router.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
foreach(size 16 32 48 64 128 256)
    install(FILES ${PYLON_RESOURCES}/images/hicolor/${size}x${size}/apps/pylon-router.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()
install(FILES ${PYLON_RESOURCES}/images/hicolor/scalable/apps/pylon-router.svg
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${PYLON_METAINFO} DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# The manual page and the package changelog, compressed as Debian keeps them (gzip -9, no
# name or time stamp inside, so that the same sources give the same bytes).
set(PYLON_PACKAGING_DIR ${PROJECT_BINARY_DIR}/packaging)
configure_file(${PYLON_RESOURCES}/pylon-router.1.in ${PYLON_PACKAGING_DIR}/pylon-router.1 @ONLY)
add_custom_command(OUTPUT ${PYLON_PACKAGING_DIR}/pylon-router.1.gz
    COMMAND gzip -9 -n -c ${PYLON_PACKAGING_DIR}/pylon-router.1 > ${PYLON_PACKAGING_DIR}/pylon-router.1.gz
    DEPENDS ${PYLON_PACKAGING_DIR}/pylon-router.1
    VERBATIM)
add_custom_command(OUTPUT ${PYLON_PACKAGING_DIR}/changelog.gz
    COMMAND gzip -9 -n -c ${PYLON_CHANGELOG} > ${PYLON_PACKAGING_DIR}/changelog.gz
    DEPENDS ${PYLON_CHANGELOG}
    VERBATIM)
add_custom_target(pylon-packaging-docs ALL
    DEPENDS ${PYLON_PACKAGING_DIR}/pylon-router.1.gz ${PYLON_PACKAGING_DIR}/changelog.gz)
install(FILES ${PYLON_PACKAGING_DIR}/pylon-router.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
set(PYLON_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/${PYLON_PACKAGE_NAME})
install(FILES ${PYLON_RESOURCES}/debian/copyright ${PYLON_PACKAGING_DIR}/changelog.gz
    DESTINATION ${PYLON_DOC_DIR})
install(FILES ${PYLON_RESOURCES}/debian/lintian-overrides
    DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME ${PYLON_PACKAGE_NAME})

# The Debian package: `cpack --config <build>/CPackConfig.cmake` packs what the rules above
# and the program's own install(TARGETS) put into /usr.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${PYLON_PACKAGE_NAME})
set(CPACK_PACKAGE_VENDOR Tarnwell)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_DESCRIPTION "\
${PYLON_APPLICATION_NAME} follows and steers the OpenVPN of a small OpenWRT router
through OpenVPN's management interface: the VPN state, OpenVPN's coloured log,
hold release, password prompts, VPN restart and, in server mode, the list of
connected VPN clients with a disconnect button. It reboots the router or
restarts its firewall over the LuCI web interface, and opens encrypted
configuration exports to save their files or upload them to the router by FTP.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Tarnwell <packages@pylon-router.example>")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://www.pylon-router.example/)
# Depends: computed by dpkg-shlibdeps from the libraries the program links.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# QtKeychain reaches the Secret Service through libsecret, which it loads at run time; without
# it the router password stays in the settings file.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS libsecret-1-0)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
# Only the binary package.
set(CPACK_SOURCE_GENERATOR "")
include(CPack)
