# The Debian package: `cpack -G DEB` in the build directory makes tavelo_<version>_<arch>.deb, which
# installs under /usr. dpkg-shlibdeps works out the libraries it depends on; Qt's platform plugins
# (the window cannot open without them) are a plugin, not a linked library, so they are named here.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tavelo)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR Quenmar)
set(CPACK_PACKAGE_CONTACT "Equipo de Tavelo <tavelo@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "POP3 mailbox manager that deletes unwanted mail on the server")
set(CPACK_PACKAGE_DESCRIPTION
    "Tavelo connects to one or more POP3 accounts and shows what lies in each mailbox on the server: \
number, size, sender, date and subject of every message, read from the headers alone. It shows the \
first lines and the recipients of a message, and deletes unwanted mail on the server before any mail \
program downloads it, with undo while connected. Filter lists of sender and subject fragments mark \
unwanted mail. The interface is in Spanish.

The package also holds tavelo-scan, a command-line scanner that lists a mailbox as TAB-separated lines.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION mail)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n, qt6-wayland")
include(CPack)
