# `make package` / cpack: a .deb of the install tree (packaging/CMakeLists.txt) that
# `apt install ./loader_*.deb` takes on a fresh Debian. dpkg-shlibdeps finds what the
# programs link (Qt 6 among them), so the dependencies follow the build machine's libraries.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME loader)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "firmware loader for a device's serial boot code")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
       "Загрузчик converts an Intel HEX file into a flat image and writes it into a device\n"
       "whose boot code announces itself on a serial line. The package holds the window\n"
       "(loader), the command-line tool (loader-cli) and a simulated device (bootsim).")
set(CPACK_PACKAGE_CONTACT "Loader developers")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Icon caches, the menu and man-db are refreshed by the triggers of Debian's own packages.
include(CPack)
