# What `cpack` makes. On Linux a Debian package: the tool, its manual page and the copyright and
# changelog Debian asks for. On Windows a zip: the tool with the Qt Core and MinGW libraries it
# loads (it decodes no value, so it needs neither Qt GUI nor a platform plugin), and the licences of
# all it bundles.
set(CPACK_PACKAGE_NAME vantorel-settings-migrator)
set(CPACK_PACKAGE_VENDOR Vantorel)
set(CPACK_PACKAGE_CONTACT "Vantorel Engineering <engineering@vantorel.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Carries machine-wide application settings over to a newly installed version")
# Debug sections are no use to an administrator and make up most of an unstripped MinGW runtime.
set(CPACK_STRIP_FILES ON)
set(packaging ${CMAKE_SOURCE_DIR}/packaging)

# Strips the installed files that match the pattern, with the options given, when the install
# strips (cpack does, as CPACK_STRIP_FILES asks).
function(vantorel_strip_installed pattern)
    string(REPLACE ";" "\" \"" options "${ARGN}")
    install(CODE "
        if(CMAKE_INSTALL_DO_STRIP)
            file(GLOB_RECURSE files \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${pattern}\")
            execute_process(COMMAND \"${CMAKE_STRIP}\" \"${options}\" \${files} RESULT_VARIABLE failed)
            if(failed OR NOT files)
                message(FATAL_ERROR \"could not strip ${pattern}\")
            endif()
        endif()")
endfunction()

# A version bump must not ship a manual page or a changelog that names the old version.
file(STRINGS ${packaging}/VantorelSettingsMigrator.8 title REGEX "^\\.TH ")
file(STRINGS ${packaging}/debian/changelog latest LIMIT_COUNT 1)
if(NOT title MATCHES "\"VantorelSettingsMigrator ${PROJECT_VERSION}\""
   OR NOT latest MATCHES "^${CPACK_PACKAGE_NAME} \\(${PROJECT_VERSION}\\) ")
    message(FATAL_ERROR "packaging/VantorelSettingsMigrator.8 (.TH) and the first entry of "
                        "packaging/debian/changelog must both name version ${PROJECT_VERSION}")
endif()

if(NOT WIN32)
    # Debian's hardening (fortify, stack protector, relro, bindnow; PIE is the compiler's default)
    # as a Debian package build would have it, with paths in the binary relative to the source.
    option(VANTOREL_DEBIAN_BUILDFLAGS "Build with the flags of dpkg-buildflags, all hardening included" OFF)
    if(VANTOREL_DEBIAN_BUILDFLAGS)
        foreach(kind CPPFLAGS CXXFLAGS LDFLAGS)
            execute_process(
                COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get ${kind}
                WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
                OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE failed)
            if(failed)
                message(FATAL_ERROR "VANTOREL_DEBIAN_BUILDFLAGS needs dpkg-buildflags (Debian package dpkg-dev)")
            endif()
            separate_arguments(${kind} UNIX_COMMAND "${flags}")
        endforeach()
        foreach(target migration VantorelSettingsMigrator)
            target_compile_options(${target} PRIVATE ${CPPFLAGS} ${CXXFLAGS})
        endforeach()
        target_link_options(VantorelSettingsMigrator PRIVATE ${LDFLAGS})
    endif()

    # Compressed at the highest level and without a time stamp, as Debian wants them.
    foreach(source VantorelSettingsMigrator.8 debian/changelog)
        get_filename_component(name ${source} NAME)
        add_custom_command(OUTPUT ${name}.gz
            COMMAND ${CMAKE_COMMAND} -E copy ${packaging}/${source} ${name}
            COMMAND gzip -9nf ${name}
            DEPENDS ${packaging}/${source} VERBATIM)
        list(APPEND compressed ${CMAKE_CURRENT_BINARY_DIR}/${name}.gz)
    endforeach()
    add_custom_target(compressed-documentation ALL DEPENDS ${compressed})
    # As Debian's own packages strip: the compiler's notes are of no use either.
    vantorel_strip_installed(bin/VantorelSettingsMigrator --remove-section=.comment --remove-section=.note)
    install(FILES ${CMAKE_CURRENT_BINARY_DIR}/VantorelSettingsMigrator.8.gz DESTINATION share/man/man8)
    install(FILES ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz ${packaging}/debian/copyright
            DESTINATION share/doc/${CPACK_PACKAGE_NAME})

    set(CPACK_GENERATOR DEB)
    set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
    set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
    set(CPACK_DEBIAN_PACKAGE_SECTION admin)
    set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)  # libqt5core5a, libacl1, ... read off the binary
    # Debian shows it as it stands, each line after a blank: lines stay below 80 columns.
    string(CONCAT CPACK_PACKAGE_DESCRIPTION
        "When a new version of an application is installed, the machine-wide\n"
        "settings its administrators gave the earlier version (defaults,\n"
        "modification counters and forced settings, kept by Qt under /etc/xdg)\n"
        "must not be lost. The new version's package runs this tool from its\n"
        "postinst: it finds the newest earlier version that has machine-wide\n"
        "settings and copies them, store by store, to the new version.\n"
        "\n"
        "It never touches per-user settings, reports on standard output, always\n"
        "exits with status 0, and completes a migration that was cut short on\n"
        "its next run. Packages that run it depend on this package.")
else()
    set(CPACK_GENERATOR ZIP)
    install(FILES $<TARGET_FILE:${VANTOREL_QT}::Core> ${VANTOREL_MINGW_RUNTIME} DESTINATION bin)
    # Stripping, which cpack asks for, reaches only the programs this project builds: the
    # libraries it copies are stripped here. The unstripped libstdc++ alone is 23.7 MB.
    vantorel_strip_installed("bin/*.dll" --strip-unneeded)

    # The licences travel with what they cover. The MinGW runtime's are the copyright files of
    # the Debian packages the libraries come from; Qt's is the copyright file of Debian's Qt
    # source (shipped with libqt5core5a), which also covers the third-party code Qt builds in.
    install(FILES LICENSE DESTINATION . RENAME LICENSE.txt)
    foreach(library ${VANTOREL_MINGW_RUNTIME})
        execute_process(COMMAND dpkg-query -S ${library} OUTPUT_VARIABLE owner ERROR_QUIET
                        OUTPUT_STRIP_TRAILING_WHITESPACE)
        string(REGEX REPLACE ":.*" "" owner "${owner}")
        if(owner AND EXISTS /usr/share/doc/${owner}/copyright)
            list(APPEND runtime_packages ${owner})
            get_filename_component(name ${library} NAME)
            string(APPEND runtime_libraries "    bin/${name}: Debian package ${owner}, MinGW-w64/${owner}.txt\n")
        else()
            message(WARNING "no Debian package owns ${library}: its licence is not in the zip")
        endif()
    endforeach()
    list(REMOVE_DUPLICATES runtime_packages)
    foreach(owner ${runtime_packages})
        install(FILES /usr/share/doc/${owner}/copyright DESTINATION licences/MinGW-w64 RENAME ${owner}.txt)
    endforeach()

    # Qt is the LGPL's "Library": whoever gets the zip may get its exact source. The Qt build wrote
    # beside itself which Debian source it was built from and how it was configured.
    get_filename_component(qt_prefix "${${VANTOREL_QT}_DIR}/../../.." ABSOLUTE)
    if(NOT EXISTS ${qt_prefix}/vantorel-qt.cmake)
        message(FATAL_ERROR "${qt_prefix} was not built by scripts/build-qt-windows: no vantorel-qt.cmake")
    endif()
    include(${qt_prefix}/vantorel-qt.cmake)
    set(qt_source_version ${VANTOREL_QT_SOURCE_VERSION})
    set(qt_configure_options ${VANTOREL_QT_CONFIGURE_OPTIONS})
    set(qt_version ${${VANTOREL_QT}Core_VERSION})
    configure_file(${packaging}/windows/licences.txt.in licences/README.txt @ONLY)
    install(FILES ${CMAKE_CURRENT_BINARY_DIR}/licences/README.txt DESTINATION licences)
    install(FILES /usr/share/doc/libqt5core5a/copyright DESTINATION licences/Qt RENAME copyright.txt)
    install(FILES /usr/share/common-licenses/LGPL-3 DESTINATION licences/Qt RENAME LGPL-3.0.txt)
    install(FILES /usr/share/common-licenses/GPL-3 DESTINATION licences/Qt RENAME GPL-3.0.txt)
endif()
# A program that gives up on a held lock sooner than QSettings' writers is for tests alone.
if(VANTOREL_LOCK_WAIT_SECONDS EQUAL 30)
    include(CPack)
else()
    message(STATUS "Not packed: VANTOREL_LOCK_WAIT_SECONDS is ${VANTOREL_LOCK_WAIT_SECONDS}, not 30")
endif()
