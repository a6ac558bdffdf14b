# Windows: a self-contained folder as a ZIP (cpack -G ZIP) and, when NSIS is
# installed, a 64-bit installer (cpack -G NSIS). The programs go to bin/ with
# every DLL they load; the Qt program's plug-ins go to plugins/ and Qt's
# Russian translation to translations/, where bin/qt.conf points Qt.
set(kestrel_win_programs kestrel-utilite kestrel-cfg kestrel-console kestrel-sheet)
set(kestrel_win_installed)
foreach(p IN LISTS kestrel_win_programs)
    if(TARGET ${p})
        list(APPEND kestrel_win_installed ${p})
    endif()
endforeach()
install(FILES ${CMAKE_CURRENT_LIST_DIR}/copyright DESTINATION doc RENAME copyright.txt)

if(NOT TARGET kestrel-utilite)
    # The core build: static executables, nothing to gather.
    install(TARGETS ${kestrel_win_installed} RUNTIME DESTINATION bin)
else()
    # The DLLs are found by CMake reading the programs' and plug-ins' import
    # tables (objdump), in the Qt kit's and the compiler's folders; the
    # system's own DLLs resolve in Wine's folder of them and are left out.
    # CMake gives Windows DLL names in lower case and looks for them so on
    # this case-sensitive disk: it searches an index of lower-case links, and
    # each DLL found is installed from the file the link names, under its own name.
    find_program(KESTREL_WIN_OBJDUMP NAMES x86_64-w64-mingw32-objdump objdump REQUIRED)
    # On Windows itself the system folder.
    file(TO_CMAKE_PATH "$ENV{SystemRoot}/System32" kestrel_system32)
    find_path(KESTREL_WIN_SYSTEM_DLLS kernel32.dll
        PATHS /usr/lib/x86_64-linux-gnu/wine/x86_64-windows /usr/lib/wine/x86_64-windows /usr/lib64/wine/x86_64-windows
              ${kestrel_system32}
        NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
    if(NOT KESTREL_WIN_SYSTEM_DLLS)
        message(FATAL_ERROR "the system's 64-bit DLLs (Wine's, or Windows' System32) are not found: "
                            "the package cannot tell them from its own")
    endif()
    set(kestrel_dll_index ${CMAKE_BINARY_DIR}/win-dll-index)
    kestrel_link_win_dlls(${kestrel_dll_index} LOWER)

    install(TARGETS ${kestrel_win_installed} RUNTIME DESTINATION bin)
    # The plug-ins the program loads: the platform and the native style.
    get_target_property(kestrel_qpa Qt6::QWindowsIntegrationPlugin IMPORTED_LOCATION_RELEASE)
    get_target_property(kestrel_style Qt6::QWindowsVistaStylePlugin IMPORTED_LOCATION_RELEASE)
    # Qt takes the program's folder for its prefix when its DLLs are beside
    # the program; qt.conf names the package's root instead.
    install(FILES ${CMAKE_CURRENT_LIST_DIR}/qt.conf DESTINATION bin)
    install(FILES ${kestrel_qpa} DESTINATION plugins/platforms)
    install(FILES ${kestrel_style} DESTINATION plugins/styles)
    set(kestrel_exes)
    foreach(p IN LISTS kestrel_win_installed)
        list(APPEND kestrel_exes "$<TARGET_FILE:${p}>")
    endforeach()
    install(CODE "
        set(CMAKE_GET_RUNTIME_DEPENDENCIES_PLATFORM windows+pe)
        set(CMAKE_GET_RUNTIME_DEPENDENCIES_TOOL objdump)
        set(CMAKE_GET_RUNTIME_DEPENDENCIES_COMMAND \"${KESTREL_WIN_OBJDUMP}\")
        file(GET_RUNTIME_DEPENDENCIES
            EXECUTABLES ${kestrel_exes}
            MODULES \"${kestrel_qpa}\" \"${kestrel_style}\"
            DIRECTORIES \"${kestrel_dll_index}\" \"${KESTREL_WIN_SYSTEM_DLLS}\"
            PRE_EXCLUDE_REGEXES \"^api-ms-\" \"^ext-ms-\"
            POST_EXCLUDE_REGEXES \"^${KESTREL_WIN_SYSTEM_DLLS}/\"
            RESOLVED_DEPENDENCIES_VAR kestrel_found
            UNRESOLVED_DEPENDENCIES_VAR kestrel_missing)
        if(kestrel_missing)
            message(FATAL_ERROR \"DLLs found nowhere: \${kestrel_missing}\")
        endif()
        foreach(f IN LISTS kestrel_found)
            file(REAL_PATH \${f} f)
            file(INSTALL \${f} DESTINATION \"\${CMAKE_INSTALL_PREFIX}/bin\")
        endforeach()")

    # Qt's own buttons and dialogs in Russian: the host's translation, of the
    # same Qt version as the kit (on Windows itself, Qt's own).
    list(GET KESTREL_WIN_DLL_DIRS 0 kestrel_qt_bin)
    find_file(KESTREL_QTBASE_RU qtbase_ru.qm
        PATHS /usr/share/qt6/translations ${kestrel_qt_bin}/../translations ${kestrel_qt_bin}/../share/qt6/translations
        NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
    if(NOT KESTREL_QTBASE_RU)
        message(FATAL_ERROR "qtbase_ru.qm not found (Debian package qt6-translations-l10n)")
    endif()
    install(FILES ${KESTREL_QTBASE_RU} DESTINATION translations)
endif()

set(CPACK_PACKAGE_NAME kestrel-utilite)
set(CPACK_PACKAGE_VENDOR "KestrelUtilite")
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
    # A 64-bit installer (the default stub is 32-bit) reading its script as
    # UTF-8, installed under the 64-bit Program Files.
    set(CPACK_NSIS_EXECUTABLE ${CMAKE_CURRENT_LIST_DIR}/makensis64.sh)
endif()
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
set(CPACK_NSIS_DISPLAY_NAME "Дуговая защита")
set(CPACK_NSIS_PACKAGE_NAME "Дуговая защита")
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
if(TARGET kestrel-utilite)
    # A Start menu entry for the program (not for the command-line tools).
    set(CPACK_PACKAGE_EXECUTABLES kestrel-utilite "Дуговая защита")
    set(CPACK_NSIS_INSTALLED_ICON_NAME bin/kestrel-utilite.exe)
endif()
include(CPack)

# The ZIP holds what it should (label win: run by make test-win).
if(KESTREL_TESTS)
    enable_testing()
    set(kestrel_zip_dlls "")
    if(TARGET kestrel-utilite)
        set(kestrel_zip_dlls "bin/qt.conf;bin/Qt6Core.dll;bin/Qt6Gui.dll;bin/Qt6Widgets.dll;bin/libstdc++-6.dll;bin/libwinpthread-1.dll;plugins/platforms/qwindows.dll;plugins/styles/qwindowsvistastyle.dll;translations/qtbase_ru.qm")
    endif()
    add_test(NAME win_zip_contents
        COMMAND ${CMAKE_COMMAND} -DBUILD_DIR=${CMAKE_BINARY_DIR} -DCPACK=${CMAKE_CPACK_COMMAND}
                "-DPROGRAMS=${kestrel_win_installed}" "-DFILES=${kestrel_zip_dlls}"
                -P ${CMAKE_CURRENT_LIST_DIR}/CheckWinZip.cmake)
    set_tests_properties(win_zip_contents PROPERTIES LABELS win TIMEOUT 300)
endif()
