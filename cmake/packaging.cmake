# Installing and packaging: a .deb on Linux that uses Debian's own Qt, a ZIP on Windows that
# carries Qt with it. Both take their version from the project's.

if(UNIX AND NOT APPLE)
    install(FILES ${PROJECT_SOURCE_DIR}/resources/vantyx-firmware-updater.desktop
                  ${PROJECT_SOURCE_DIR}/resources/vantyx-bench.desktop
            DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
    install(DIRECTORY ${PROJECT_SOURCE_DIR}/resources/icons/hicolor
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons)
    # bash-completion loads a command's file by its name: the one file under each.
    foreach(program vantyx-flash vantyx-bench FlashLoader vantyx-sim vantyx-job vantyx-records)
        install(FILES ${PROJECT_SOURCE_DIR}/packaging/vantyx.bash-completion
                DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
                RENAME ${program})
    endforeach()

    # What Debian asks of a package's doc folder: the copyright and a changelog, compressed.
    set(docdir ${CMAKE_INSTALL_DATADIR}/doc/vantyx-firmware-updater)
    configure_file(${PROJECT_SOURCE_DIR}/packaging/changelog.in
                   ${PROJECT_BINARY_DIR}/packaging/changelog @ONLY)
    add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/packaging/changelog.gz
        COMMAND gzip -9nf -k ${PROJECT_BINARY_DIR}/packaging/changelog
        DEPENDS ${PROJECT_BINARY_DIR}/packaging/changelog
        COMMENT "Compressing the changelog")
    add_custom_target(changelog ALL DEPENDS ${PROJECT_BINARY_DIR}/packaging/changelog.gz)
    install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright
                  ${PROJECT_BINARY_DIR}/packaging/changelog.gz
            DESTINATION ${docdir})
    # The line's Prometheus rules, their tests and its Grafana dashboard, to copy from.
    install(FILES ${PROJECT_SOURCE_DIR}/packaging/monitoring/vantyx-rules.yml
                  ${PROJECT_SOURCE_DIR}/packaging/monitoring/vantyx-rules-test.yml
                  ${PROJECT_SOURCE_DIR}/packaging/monitoring/vantyx-dashboard.json
            DESTINATION ${docdir}/monitoring)

    # A manual page for each program, made from its own --help at build time, so that the two
    # never say different things; its examples (one a line), exit statuses, files and related
    # pages from packaging/man/. Run by its bare name, so that the page says "vantyx-flash",
    # not the build folder's path.
    find_program(HELP2MAN help2man)
    if(HELP2MAN)
        set(pages)
        foreach(entry "FlashLoader|src|download firmware into a Vantyx device (the window)"
                      "vantyx-flash|src|flash Vantyx devices from the command line"
                      "vantyx-bench|src|flash a bench of Vantyx boards as they are plugged in (the window)"
                      "vantyx-sim|tools/simulator|play a Vantyx device's bootloader"
                      "vantyx-job|src|write and show the production jobs a station runs"
                      "vantyx-records|src|ask the line's record stores about its boards")
            string(REPLACE "|" ";" entry "${entry}")
            list(GET entry 0 program)
            list(GET entry 2 what)
            set(page ${PROJECT_BINARY_DIR}/man/${program}.1)
            add_custom_command(OUTPUT ${page}.gz
                COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
                COMMAND ${CMAKE_COMMAND} -E env "PATH=$<TARGET_FILE_DIR:${program}>:$ENV{PATH}"
                        ${HELP2MAN} --no-info --no-discard-stderr --section=1
                        "--name=${what}" --output=${page}
                        --include=${PROJECT_SOURCE_DIR}/packaging/man/${program}.h2m ${program}
                COMMAND gzip -9nf ${page}
                DEPENDS ${program} ${PROJECT_SOURCE_DIR}/packaging/man/${program}.h2m
                COMMENT "Writing the manual page of ${program}"
                VERBATIM)
            list(APPEND pages ${page}.gz)
        endforeach()
        add_custom_target(manpages ALL DEPENDS ${pages})
        install(FILES ${pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    else()
        message(STATUS "help2man not found: no manual pages (scripts/dev.sh package installs it)")
    endif()
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
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "firmware updater for Brivox Vantyx devices")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Brivox <support@brivox.invalid>")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
# The long description, which CPack indents under the summary; lines of their own are a
# paragraph, not preformatted text.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"Downloads a raw firmware image into Vantyx devices through their serial
bootloader, 256 bytes a block, each checked and acknowledged by the device.
.
The package holds the updater's window (FlashLoader); vantyx-flash, which
flashes one board or a whole bench at once from the command line, on local
serial ports and on ports served over the network; vantyx-bench, a window
for a production line that flashes every board on the bench as it is
plugged in and records each one; vantyx-job, which writes the production
jobs a station runs once they are signed; vantyx-records, which asks the
stations' and the line's record stores; and vantyx-sim, a simulated
bootloader to try them without a board.")
# Debian's Qt 6 runtime, not a copy of it: the libraries and their versions as the programs
# need them, computed from the binaries. The platform plugins are loaded, not linked.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Plugins no library check finds: the platform, and the driver of the station's record store;
# the line's store's driver where a line has one.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, libqt6sql6-sqlite")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libqt6sql6-psql")
include(CPack)
