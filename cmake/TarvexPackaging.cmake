# `cpack` in a build directory turns the installed program into a .deb.
set(TARVEX_PACKAGE_MAINTAINER "Tarvex Terminal developers"
    CACHE STRING "Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarvex-terminal)
set(CPACK_PACKAGE_VENDOR "Tarvex Terminal developers")
set(CPACK_PACKAGE_CONTACT "${TARVEX_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "capture the data stream of a Tarvex muscle-activity device")
# Debian wants the long description in lines of under 80 characters.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "Tarvex Terminal connects to a Tarvex muscle-activity measuring device on a\n"
    "serial port, starts and stops its data stream, shows the incoming data live\n"
    "in a console and saves the capture exactly as the device sent it.")
set(CPACK_RESOURCE_FILE_LICENSE "${PROJECT_SOURCE_DIR}/LICENSE")
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
# Lets dpkg-shlibdeps derive the Qt and C++ runtime packages from the binary.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

include(CPack)
