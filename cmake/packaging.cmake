# Installing and packaging: a .deb on Linux that uses Debian's own Qt, a ZIP on Windows that
# carries Qt with it. Both take their version from the project's.

if(UNIX AND NOT APPLE)
    install(FILES ${PROJECT_SOURCE_DIR}/resources/vantyx-firmware-updater.desktop
            DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
    install(FILES ${PROJECT_SOURCE_DIR}/resources/vantyx-firmware-updater.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/256x256/apps)
endif()

if(WIN32)
    # Qt's libraries and plugins next to the programs, as windeployqt lays them out. Named
    # from Qt's own targets rather than through its deploy script, which needs a Windows host
    # and a newer Qt than 6.4 for what this does, so a cross build packs the same folder.
    foreach(module Core Gui Widgets SerialPort)
        install(FILES $<TARGET_FILE:Qt6::${module}> DESTINATION ${CMAKE_INSTALL_BINDIR})
    endforeach()
    install(FILES $<TARGET_FILE:Qt6::QWindowsIntegrationPlugin>
            DESTINATION ${CMAKE_INSTALL_BINDIR}/platforms)
    if(TARGET Qt6::QWindowsVistaStylePlugin)
        install(FILES $<TARGET_FILE:Qt6::QWindowsVistaStylePlugin>
                DESTINATION ${CMAKE_INSTALL_BINDIR}/styles)
    endif()
    if(TARGET Qt6::QICOPlugin)
        install(FILES $<TARGET_FILE:Qt6::QICOPlugin> DESTINATION ${CMAKE_INSTALL_BINDIR}/imageformats)
    endif()
    if(MINGW)
        # The compiler's own runtime: a machine without MinGW has none of these.
        foreach(runtime libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
            execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${runtime}
                            OUTPUT_VARIABLE found OUTPUT_STRIP_TRAILING_WHITESPACE)
            if(NOT IS_ABSOLUTE "${found}")
                find_file(found ${runtime} PATHS ${CMAKE_FIND_ROOT_PATH}
                          PATH_SUFFIXES lib bin NO_CACHE)
            endif()
            if(NOT EXISTS "${found}")
                message(FATAL_ERROR "cannot find the MinGW runtime ${runtime} to pack")
            endif()
            install(FILES ${found} DESTINATION ${CMAKE_INSTALL_BINDIR})
            unset(found)
        endforeach()
    else()
        set(CMAKE_INSTALL_SYSTEM_RUNTIME_DESTINATION ${CMAKE_INSTALL_BINDIR})
        include(InstallRequiredSystemLibraries)
    endif()
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
    "libqt6core6 (>= 6.4), libqt6gui6 (>= 6.4), libqt6widgets6 (>= 6.4), libqt6serialport6 (>= 6.4), qt6-qpa-plugins, libc6, libstdc++6")
include(CPack)
