# "cpack -G DEB" in the build folder: one Debian package of the whole installation, its dependencies
# read from the libraries the programs link (dpkg-shlibdeps), the programs stripped, under /usr.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME klangor)
set(CPACK_PACKAGE_VENDOR Vellumar)
set(CPACK_PACKAGE_CONTACT "Vellumar <klangor@vellumar.example>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "audio track extractor for video and audio files")
set(CPACK_PACKAGE_DESCRIPTION "Vellumar Klangor takes the audio track out of almost any video or audio
file FFmpeg reads and writes it as MP3 or WAV, whole or over a selection
marked in its preview player. The selection is kept beside each file.

The package holds the desktop program klangor, with its skin, user guide,
menu entry and icon, and the command-line converter klangor-convert, which
shares the same engine and needs no display.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://vellumar.example/klangor)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt finds its windowing plugins at run time, so the libraries linked do not name them.
set(CPACK_DEBIAN_PACKAGE_DEPENDS qt6-qpa-plugins)
# The Help button and the home page open in the desktop's browser.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS xdg-utils)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
