# One Debian package (cpack -G DEB) with everything that installs: the two
# programs, their manual pages, the licence, and the reader library with its
# headers, CMake package and pkg-config file.
set(CPACK_PACKAGE_NAME d88cut)
set(CPACK_PACKAGE_VENDOR "The d88cut authors")
set(CPACK_PACKAGE_CONTACT "The d88cut authors <d88cut@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "cut the fixed regions of a D88 floppy-disk image into files")
set(CPACK_PACKAGE_DESCRIPTION
  "d88cut cuts twenty fixed regions out of disk 0 of a D88 floppy-disk image, each into a file of its own; d88ls shows what D88 images hold. Includes the D88 image reader library (static, with headers, a CMake package and a pkg-config file).")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_INSTALL_DIRECTORY d88cut)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The runtime libraries the programs need, found by dpkg-shlibdeps.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Programs without their debugging symbols, as a distribution ships them.
set(CPACK_STRIP_FILES ON)
include(CPack)
