# Installing and packaging: a .deb on Linux that uses Debian's own Qt, a ZIP on Windows that
# carries Qt with it. Both take their version from the project's.

if(UNIX AND NOT APPLE)
    install(FILES ${PROJECT_SOURCE_DIR}/resources/vantyx-firmware-updater.desktop
            DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
    install(FILES ${PROJECT_SOURCE_DIR}/resources/vantyx-firmware-updater.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/256x256/apps)
endif()

if(WIN32 AND Qt6_VERSION VERSION_GREATER_EQUAL 6.3)
    # Qt's libraries and plugins next to the programs, as windeployqt lays them out.
    qt_generate_deploy_app_script(TARGET FlashLoader OUTPUT_SCRIPT deploy_script
                                  NO_UNSUPPORTED_PLATFORM_ERROR)
    install(SCRIPT ${deploy_script})
endif()
if(WIN32)
    set(CPACK_GENERATOR ZIP)
else()
    set(CPACK_GENERATOR DEB)
endif()

set(CPACK_PACKAGE_NAME vantyx-firmware-updater)
set(CPACK_PACKAGE_VENDOR "Brivox")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Brivox Vantyx Firmware updater")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Brivox <support@brivox.invalid>")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Brivox Vantyx Firmware updater
 Downloads firmware into Vantyx devices through their serial bootloader: the
 updater's window (FlashLoader), vantyx-flash to flash one board or a bench of
 them from the command line, and vantyx-sim, a simulated bootloader to try
 both without a board.")
# Debian's Qt 6 runtime, not a copy of it.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libqt6core6 (>= 6.2), libqt6gui6 (>= 6.2), libqt6widgets6 (>= 6.2), libqt6serialport6 (>= 6.2), qt6-qpa-plugins, libc6, libstdc++6")
include(CPack)
