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
    # Qt's plugins and every DLL the programs and plugins import, next to the programs, as
    # windeployqt lays them out. Done here rather than by Qt's deploy script, which needs a
    # Windows host and a newer Qt than 6.4, so that a cross build packs the same folder.
    # Plugins are loaded, not imported, so they are named: the platform, the style, the icon
    # reader, the record stores' drivers, the TLS backends (each in the folder of its type).
    foreach(plugin QWindowsIntegrationPlugin QWindowsVistaStylePlugin QICOPlugin
                   QSQLiteDriverPlugin QPSQLDriverPlugin QSchannelBackendPlugin
                   QTlsBackendCertOnlyPlugin)
        if(TARGET Qt6::${plugin})
            get_target_property(type Qt6::${plugin} QT_PLUGIN_TYPE)
            install(FILES $<TARGET_FILE:Qt6::${plugin}>
                    DESTINATION ${CMAKE_INSTALL_BINDIR}/${type})
        endif()
    endforeach()
    # The DLLs, from what the programs and the plugins import, found in Qt's folder (which has
    # libsodium and libpq beside Qt's own) and in the compiler's runtime folders; what none of
    # them holds is Windows' own.
    set(runtime_folders "$<TARGET_FILE_DIR:Qt6::Core>")
    if(MINGW)
        foreach(runtime libstdc++-6.dll libwinpthread-1.dll)
            execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${runtime}
                            OUTPUT_VARIABLE found OUTPUT_STRIP_TRAILING_WHITESPACE)
            if(NOT IS_ABSOLUTE "${found}")
                find_file(found ${runtime} PATHS ${CMAKE_FIND_ROOT_PATH}
                          PATH_SUFFIXES lib bin NO_CACHE)
            endif()
            if(NOT EXISTS "${found}")
                message(FATAL_ERROR "cannot find the MinGW runtime ${runtime} to pack")
            endif()
            get_filename_component(folder "${found}" DIRECTORY)
            list(APPEND runtime_folders "${folder}")
            unset(found)
        endforeach()
    endif()
    set(quoted_folders "")
    foreach(folder IN LISTS runtime_folders)
        string(APPEND quoted_folders " \"${folder}\"")
    endforeach()
    set(reader "")
    if(CMAKE_CROSSCOMPILING) # a Windows binary read on another system: MinGW's objdump
        set(reader "set(CMAKE_GET_RUNTIME_DEPENDENCIES_PLATFORM windows+pe)
            set(CMAKE_GET_RUNTIME_DEPENDENCIES_TOOL objdump)
            set(CMAKE_GET_RUNTIME_DEPENDENCIES_COMMAND \"${CMAKE_OBJDUMP}\")")
    endif()
    install(CODE "
        set(bin \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
        set(folders ${quoted_folders})
        ${reader}
    ")
    install(CODE [=[
        cmake_policy(PUSH)
        cmake_policy(VERSION 3.21) # the install script's own policies are the oldest
        file(GLOB programs "${bin}/*.exe")
        file(GLOB plugins "${bin}/*/*.dll")
        set(available "")
        foreach(folder IN LISTS folders)
            file(GLOB dlls "${folder}/*.dll")
            list(APPEND available ${dlls})
        endforeach()
        # A cross build's reader lowers the names a module imports, which a host that tells
        # case apart then cannot find: those are matched by hand, and read in turn.
        set(modules ${plugins})
        while(TRUE)
            file(GET_RUNTIME_DEPENDENCIES EXECUTABLES ${programs} MODULES ${modules}
                 DIRECTORIES ${folders}
                 PRE_EXCLUDE_REGEXES [[^api-ms-]] [[^ext-ms-]]
                 RESOLVED_DEPENDENCIES_VAR found UNRESOLVED_DEPENDENCIES_VAR unresolved)
            set(added FALSE)
            foreach(dll IN LISTS available)
                get_filename_component(name "${dll}" NAME)
                string(TOLOWER "${name}" name)
                if(name IN_LIST unresolved AND NOT dll IN_LIST modules)
                    list(APPEND modules "${dll}")
                    set(added TRUE)
                endif()
            endforeach()
            if(NOT added)
                break()
            endif()
        endwhile()
        list(REMOVE_ITEM modules ${plugins})
        file(INSTALL ${found} ${modules} DESTINATION "${bin}")
        cmake_policy(POP)
    ]=])
    if(NOT MINGW)
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
