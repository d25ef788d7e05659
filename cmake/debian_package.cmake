# The Debian package `make package` builds (cpack -G DEB): whatever the install rules put
# under the prefix (the three programs, the desktop entry, the icons), installed under /usr.
# Included by the top CMakeLists.txt on Linux.
set(CORVANE_PACKAGE_MAINTAINER "Corvane Tool maintainers <maintainers@corvane-tool.invalid>"
    CACHE STRING "Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME corvane-tool)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${CORVANE_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "set-up tool for networked AV and KVM extenders")
set(CPACK_PACKAGE_DESCRIPTION
    "Finds networked audio/video and KVM extenders (transmitters, receivers, KVM receivers) on
the local network by UDP broadcast, lists them, changes their network, audio and video
settings, reboots them and loads their firmware. corvane-tool is the desktop program,
corvane-cli does the same work from a terminal, and corvane-devsim simulates devices for
trying both without hardware.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The library packages (Qt 5 among them) come from the programs' own imports, as
# dpkg-shlibdeps reads them against the packages this machine built with.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The window's Chinese texts need a CJK font; these are the ones it asks for by name.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-wqy-microhei | fonts-noto-cjk")
# A package carries no debug information (a RelWithDebInfo build would be ten times the size).
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)
