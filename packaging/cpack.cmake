# The package recipes for cpack: a Debian package on Linux (dependencies from dpkg-shlibdeps), a
# .zip of vantor.exe, README.txt and the licence from the mingw-w64 build. The version is the
# project's.
set(CPACK_PACKAGE_NAME vantor)
set(CPACK_PACKAGE_VENDOR "The Vantor tools developers")
set(CPACK_PACKAGE_CONTACT "The Vantor tools developers <developers@vantor-tools.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "firmware download tools for the Vantor device")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME vantor-${PROJECT_VERSION}-win64)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  # The long description; cpack puts the summary above it and indents it.
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Tools that put firmware into the Vantor device through its bootloader over a
serial line (115200 bit/s, 8N1) and read its memory back:
 - vantor, the command-line tool, for scripts and production lines;
 - Quorix, a desktop program that writes one image file into one device area;
 - Pelion, a desktop program that writes image slots, reads regions back and
   shows memory as a hex listing.
A simulated device (vantor sim, vantor demo, --simulator) lets every tool run
without hardware.")
endif()

include(CPack)
