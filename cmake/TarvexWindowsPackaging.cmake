# `cpack -C Release` in a Windows build folder packs the program, Qt's runtime (gathered by
# windeployqt at install time), the compiler's runtime and the licence into a ZIP and an NSIS
# installer with a Start-menu entry. Written for .github/workflows/windows.yml; not run here.
set(CPACK_GENERATOR ZIP NSIS)
set(CPACK_PACKAGE_NAME tarvex-terminal)
set(CPACK_PACKAGE_VENDOR "Tarvex Terminal developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "capture the data stream of a Tarvex muscle-activity device")
set(CPACK_PACKAGE_FILE_NAME "tarvex-terminal-${PROJECT_VERSION}-win64")
set(CPACK_PACKAGE_INSTALL_DIRECTORY "Tarvex Terminal")
set(CPACK_RESOURCE_FILE_LICENSE "${PROJECT_SOURCE_DIR}/LICENSE")
# The Start-menu entry: the executable in bin/ and the name it is shown under.
set(CPACK_PACKAGE_EXECUTABLES tarvex-terminal "Tarvex Terminal")

set(CPACK_NSIS_PACKAGE_NAME "Tarvex Terminal")
set(CPACK_NSIS_DISPLAY_NAME "Tarvex Terminal")
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
set(CPACK_NSIS_INSTALLED_ICON_NAME "bin\\\\tarvex-terminal.exe")
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)

install(FILES "${PROJECT_SOURCE_DIR}/LICENSE" DESTINATION .)

# MSVC's runtime DLLs beside the program, so that the target PC needs no redistributable.
set(CMAKE_INSTALL_SYSTEM_RUNTIME_DESTINATION ${CMAKE_INSTALL_BINDIR})
include(InstallRequiredSystemLibraries)

# windeployqt copies Qt's DLLs and plugins beside the installed program. With MinGW it copies
# the compiler's runtime too; with MSVC the lines above did.
get_target_property(tarvex_qmake Qt5::qmake IMPORTED_LOCATION)
get_filename_component(tarvex_qt_bin "${tarvex_qmake}" DIRECTORY)
find_program(TARVEX_WINDEPLOYQT windeployqt HINTS "${tarvex_qt_bin}")
if(MSVC)
    set(tarvex_deploy_options --no-compiler-runtime)
endif()
install(CODE "
    set(exe \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/tarvex-terminal.exe\")
    if(NOT EXISTS \"${TARVEX_WINDEPLOYQT}\")
        message(FATAL_ERROR \"windeployqt was not found beside Qt's qmake (${tarvex_qt_bin})\")
    endif()
    execute_process(COMMAND \"${TARVEX_WINDEPLOYQT}\" --release --no-translations
                            ${tarvex_deploy_options} \"\${exe}\"
                    RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR \"windeployqt failed on \${exe}\")
    endif()
")

include(CPack)
