# Windows: a self-contained folder as a ZIP (cpack -G ZIP) and, when NSIS is
# installed, an installer (cpack -G NSIS). The programs go to bin/; the Qt
# program gets its Qt libraries, plug-ins and translations beside it from
# windeployqt at install time, so the folder runs on a PC without Qt.
set(kestrel_win_programs kestrel-utilite kestrel-cfg kestrel-console)
set(kestrel_win_installed)
foreach(p IN LISTS kestrel_win_programs)
    if(TARGET ${p})
        install(TARGETS ${p} RUNTIME DESTINATION bin)
        list(APPEND kestrel_win_installed ${p})
    endif()
endforeach()
install(FILES ${CMAKE_CURRENT_LIST_DIR}/copyright DESTINATION doc RENAME copyright.txt)

if(TARGET kestrel-utilite)
    # Qt's own bin folder first: windeployqt must belong to the Qt the program was built with.
    set(kestrel_qt_bin)
    if(TARGET Qt6::qmake)
        get_target_property(kestrel_qmake Qt6::qmake IMPORTED_LOCATION)
        if(kestrel_qmake)
            get_filename_component(kestrel_qt_bin ${kestrel_qmake} DIRECTORY)
        endif()
    endif()
    find_program(WINDEPLOYQT NAMES windeployqt windeployqt6 windeployqt-qt6 HINTS ${kestrel_qt_bin})
    if(WINDEPLOYQT)
        # Run on the installed copy (the staging folder under cpack). The
        # compiler's run-time DLLs come along, since the Qt program is linked
        # against them dynamically.
        install(CODE "
            execute_process(
                COMMAND \"${WINDEPLOYQT}\" --release --no-quick-import --no-system-d3d-compiler --no-opengl-sw
                        --dir \"\${CMAKE_INSTALL_PREFIX}/bin\" \"\${CMAKE_INSTALL_PREFIX}/bin/kestrel-utilite.exe\"
                RESULT_VARIABLE kestrel_rc)
            if(NOT kestrel_rc EQUAL 0)
                message(FATAL_ERROR \"windeployqt failed (\${kestrel_rc})\")
            endif()")
    else()
        message(WARNING "windeployqt not found: the installed kestrel-utilite.exe needs Qt's DLLs beside it")
    endif()
endif()

set(CPACK_PACKAGE_NAME kestrel-utilite)
set(CPACK_PACKAGE_VENDOR "KestrelUtilite developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "service and monitoring utility for an arc-protection installation")
set(CPACK_PACKAGE_INSTALL_DIRECTORY KestrelUtilite)
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_CURRENT_LIST_DIR}/copyright)
set(CPACK_SYSTEM_NAME win64)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR ZIP)
find_program(MAKENSIS makensis)
if(MAKENSIS)
    list(APPEND CPACK_GENERATOR NSIS)
endif()
set(CPACK_NSIS_DISPLAY_NAME "Kestrel Utilite")
set(CPACK_NSIS_PACKAGE_NAME "Kestrel Utilite")
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
if(TARGET kestrel-utilite)
    # A Start menu entry for the program (not for the command-line tools).
    set(CPACK_PACKAGE_EXECUTABLES kestrel-utilite "Kestrel Utilite")
endif()
include(CPack)

# The ZIP holds what it should (label win: run by make test-win).
if(KESTREL_TESTS)
    enable_testing()
    add_test(NAME win_zip_contents
        COMMAND ${CMAKE_COMMAND} -DBUILD_DIR=${CMAKE_BINARY_DIR} -DCPACK=${CMAKE_CPACK_COMMAND}
                "-DPROGRAMS=${kestrel_win_installed}" -P ${CMAKE_CURRENT_LIST_DIR}/CheckWinZip.cmake)
    set_tests_properties(win_zip_contents PROPERTIES LABELS win TIMEOUT 300)
endif()
