# One Debian package with the tool, its companions and its desktop files:
#   cpack -G DEB   (in the build folder, after a full build)
# or, in the Windows build, one NSIS installer (cmake/Qv58WindowsRuntime.cmake).
set(CPACK_PACKAGE_NAME qv58link-upgrade)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR Quorvantix)
set(CPACK_PACKAGE_CONTACT "${QV58_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "firmware upgrade tool for the QV58-LINK USB debug probe")
# Debug information would triple the package; it stays in the build tree.
set(CPACK_STRIP_FILES ON)

# The Windows installer's settings are in cmake/Qv58WindowsRuntime.cmake.
if(NOT WIN32)
    set(CPACK_GENERATOR DEB)
    set(CPACK_PACKAGING_INSTALL_PREFIX /usr)

    set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
    set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${QV58_PACKAGE_MAINTAINER}")
    set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
    set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    # Every download is HTTPS and checked against the system's CA bundle, which is
    # read at run time, so the library scan cannot see it.
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "ca-certificates")
    # CPack puts the summary above this and indents it; an empty line starts a paragraph.
    set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "QV58-Link Upgrade installs new firmware on a QV58-LINK USB debug probe,
which shows up as a removable drive. It reads the probe's details, lists
the firmware versions published for it, downloads and verifies the chosen
package over HTTPS and flashes the probe by writing files onto its drive.

Companion commands: qv58link-pack builds and inspects upgrade packages,
qv58link-probe-sim plays the probe on a folder and qv58link-serve serves a
folder over HTTPS, for trying the tool without the maker's server.")

endif()

# cpack and install take what the build made: a package test run under ctest
# must not start building the whole tree beside the other tests.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

include(CPack)
