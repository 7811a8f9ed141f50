# `cmake --build build --target package` (or `cpack -G DEB` in build/) makes
# quorvale_<version>_<arch>.deb from the install rules; nothing else goes in.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quorvale)
set(CPACK_PACKAGE_VENDOR "The Quorvale developers")
set(CPACK_PACKAGE_CONTACT "${QUORVALE_CONTACT}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Firmware updater for Talvex USB docks")
set(CPACK_PACKAGE_DESCRIPTION "Lists the Talvex USB docks connected to the computer, shows each dock's
firmware version and upgrades it with the dock maker's firmware tool, which
goes in /usr/libexec/quorvale.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
# Libraries come from dpkg-shlibdeps; Qt's plugins and translations are
# loaded at run time, so no library link names them (xcb and offscreen in
# qt6-qpa-plugins, wayland in qt6-wayland, the upgrade history's SQLite driver
# in libqt6sql6-sqlite, Qt's own Chinese texts in qt6-translations-l10n).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, qt6-wayland, libqt6sql6-sqlite, qt6-translations-l10n")
include(CPack)
