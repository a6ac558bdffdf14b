# Installation and the Debian package (cpack -G DEB, or make package).
include(GNUInstallDirs)

set(kestrel_programs kestrel-utilite kestrel-cfg kestrel-console kestrel-cbsim kestrel-sheet)
foreach(p IN LISTS kestrel_programs)
    if(TARGET ${p})
        install(TARGETS ${p} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    endif()
endforeach()

# Manual pages and the changelog gzipped without a time stamp, as Debian wants.
set(kestrel_pkg_dir ${CMAKE_CURRENT_LIST_DIR})
set(kestrel_gz)
foreach(p IN LISTS kestrel_programs)
    set(gz ${CMAKE_BINARY_DIR}/packaging/${p}.1.gz)
    add_custom_command(OUTPUT ${gz}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/packaging
        COMMAND gzip -9nc ${kestrel_pkg_dir}/man/${p}.1 > ${gz}
        DEPENDS ${kestrel_pkg_dir}/man/${p}.1 VERBATIM)
    list(APPEND kestrel_gz ${gz})
    install(FILES ${gz} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
set(changelog_gz ${CMAKE_BINARY_DIR}/packaging/changelog.gz)
add_custom_command(OUTPUT ${changelog_gz}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/packaging
    COMMAND gzip -9nc ${kestrel_pkg_dir}/changelog > ${changelog_gz}
    DEPENDS ${kestrel_pkg_dir}/changelog VERBATIM)
add_custom_target(kestrel_package_files ALL DEPENDS ${kestrel_gz} ${changelog_gz})

install(FILES ${kestrel_pkg_dir}/kestrel-utilite.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${kestrel_pkg_dir}/kestrel-utilite.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${kestrel_pkg_dir}/copyright ${changelog_gz} DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/kestrel-utilite)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kestrel-utilite)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "KestrelUtilite developers <kestrel-utilite@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "service and monitoring utility for an arc-protection installation")
# CPack puts the summary first and indents the rest itself.
set(CPACK_PACKAGE_DESCRIPTION "Monitors the central blocks of an arc-protection installation on an RS-485
bus through serial ports (USB adapters included), keeps the event journal
and sets the blocks up. With kestrel-cfg, kestrel-console, the block
simulator kestrel-cbsim and kestrel-sheet, which prints a block's settings
sheet from a configuration file.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
