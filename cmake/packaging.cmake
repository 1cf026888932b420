# The packages CPack makes from a build folder.
#
# Linux: one Debian package (cpack -G DEB) with everything that installs: the
# programs, their manual pages, and the reader library with its headers,
# CMake package and pkg-config file. cmake/debian/prepare-package.cmake makes
# the installed tree what Debian asks for just before it is packed (manual
# pages gzipped, copyright and changelog). Configured with
# CMAKE_INSTALL_PREFIX=/usr (the deb preset), the library goes to Debian's
# multiarch folder, lib/x86_64-linux-gnu.
#
# Windows (the windows-release preset): a zip (cpack -G ZIP) of what someone
# on Windows needs and nothing else: d88cut.exe, d88ls.exe, d88cmp.exe, d88raw.exe,
# d88split.exe, d88dir.exe, d88get.exe, d88merge.exe and d88make.exe, stripped, the
# README, the licence and the manual pages as plain text, in one folder and
# with Windows line ends.
set(CPACK_PACKAGE_NAME d88cut)
set(CPACK_PACKAGE_VENDOR "The d88cut authors")
set(CPACK_PACKAGE_CONTACT "d88cut maintainers <maintainers@d88cut.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "cut the fixed regions of D88 floppy-disk images into files")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_INSTALL_DIRECTORY d88cut)
# Programs without their debugging symbols, as a distribution ships them.
set(CPACK_STRIP_FILES ON)

# The Debian package. (Its settings are harmless to a Windows build, which
# makes a zip instead; see below.)
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The summary above is its first line; CPack indents the rest and turns
# empty lines into the " ." that separates paragraphs. Lines stay under 80
# columns.
set(CPACK_PACKAGE_DESCRIPTION [[
Software and data for old Japanese personal computers survive as D88
floppy-disk images, the format their emulators read. These tools get that
data out of the images on a modern system.

d88cut cuts twenty fixed regions out of the first disk of a D88 image
(PROG, VD000, VD001, MA000 to MA008 and MB000 to MB007), each into a file
of its own, from disks with eight 1,024-byte sectors per track on two
sides. It salvages damaged disks: whatever the image holds is copied, and
sectors that are missing or marked bad are reported.

d88ls shows what an image holds before it is cut: its disks, their tracks
and sectors, and whether disk 0 holds every sector d88cut reads, as text or
as JSON Lines, and with --fingerprint a content fingerprint of each disk
that is the same for dumps that differ only in the header.

d88cmp compares two images disk by disk and sector by sector, and says
which sectors differ, which are only in one image, and which one image
holds sound where the other has them marked bad.

d88raw writes one disk as a raw sector image (.img, .hdm) for other
emulators and disk writers, with filler where the image lacks bytes and a
JSON map of every filled, short or bad sector. d88split writes each disk of
a multi-disk file to a file of its own, byte for byte.

d88merge writes the best image from several dumps of one disk, every
sector from its first sound copy, and names what is still missing or marked
bad. d88make writes a D88 disk from a raw sector image, and with d88raw's
map gives back the sectors it filled, marked or cut short.

libd88image is the C++17 reader library under both programs: disk
selection, sector lookup by identity, runs of sectors across tracks. Its
headers, a CMake package (d88::image) and a pkg-config file (d88image) are
included.]])
# The runtime libraries the programs need, found by dpkg-shlibdeps.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# d88ls loads OpenSSL's libcrypto only when it hashes (dlopen), which
# dpkg-shlibdeps cannot see: the package that holds the library is named
# here, as dpkg knows it (libssl3 on Debian 12).
if(NOT WIN32 AND D88_LIBCRYPTO_FILE)
  set(d88_crypto_package libssl${D88_LIBCRYPTO_ABI})
  find_program(DPKG_QUERY dpkg-query)
  if(DPKG_QUERY)
    file(REAL_PATH ${D88_LIBCRYPTO_FILE} d88_crypto_real)
    foreach(path ${D88_LIBCRYPTO_FILE} ${d88_crypto_real})
      execute_process(COMMAND ${DPKG_QUERY} -S ${path} OUTPUT_VARIABLE d88_owner
        RESULT_VARIABLE d88_owner_status ERROR_QUIET)
      if(d88_owner_status EQUAL 0 AND d88_owner MATCHES "^([^:, ]+)")
        set(d88_crypto_package ${CMAKE_MATCH_1})
        break()
      endif()
    endforeach()
  endif()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "${d88_crypto_package} (>= ${D88_LIBCRYPTO_ABI}.0.0)")
endif()

# usr/share/doc/d88cut/copyright: LICENSE in Debian's machine-readable
# format (the MIT licence is called Expat there).
file(STRINGS ${PROJECT_SOURCE_DIR}/LICENSE license_lines)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/LICENSE)
set(d88_copyright)
set(d88_license_text)
foreach(line IN LISTS license_lines)
  if(line MATCHES "^Copyright \\([cC]\\) (.+)$")
    set(d88_copyright "${CMAKE_MATCH_1}")
  elseif(d88_copyright)
    if(line STREQUAL "")
      if(d88_license_text)
        string(APPEND d88_license_text " .\n")
      endif()
    else()
      string(APPEND d88_license_text " ${line}\n")
    endif()
  endif()
endforeach()
string(STRIP "${d88_license_text}" d88_license_text)
string(PREPEND d88_license_text " ")
if(NOT d88_copyright OR d88_license_text STREQUAL " ")
  message(FATAL_ERROR "LICENSE: no \"Copyright (c) ...\" line followed by the licence text")
endif()
configure_file(${PROJECT_SOURCE_DIR}/cmake/debian/copyright.in
  ${PROJECT_BINARY_DIR}/debian/copyright @ONLY)

set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/debian/prepare-package.cmake)
# What that script reads (CPack passes every CPACK_ variable on).
set(CPACK_D88_DEBIAN_COPYRIGHT ${PROJECT_BINARY_DIR}/debian/copyright)
set(CPACK_D88_DEBIAN_CHANGELOG ${PROJECT_SOURCE_DIR}/cmake/debian/changelog)
set(CPACK_D88_INSTALL_BINDIR ${CMAKE_INSTALL_BINDIR})
set(CPACK_D88_INSTALL_MANDIR ${CMAKE_INSTALL_MANDIR})
set(CPACK_D88_INSTALL_DOCDIR ${CMAKE_INSTALL_DOCDIR})
set(CPACK_D88_STRIP ${CMAKE_STRIP})

# The zip for Windows.
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(CPACK_PACKAGE_FILE_NAME d88cut-${PROJECT_VERSION}-win64)
  else()
    set(CPACK_PACKAGE_FILE_NAME d88cut-${PROJECT_VERSION}-win32)
  endif()
  # The zip holds one component of its own, which a plain install leaves
  # out: the programs in the top folder beside their documents.
  set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
  set(CPACK_COMPONENTS_ALL windows_zip)
  set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY ON)
  install(TARGETS d88cut d88ls d88cmp d88raw d88split d88dir d88get d88merge d88make RUNTIME DESTINATION . COMPONENT windows_zip
    EXCLUDE_FROM_ALL)

  # README.txt, LICENSE.txt and a text page per program, with CR LF line ends;
  # the pages rendered by groff.
  find_program(GROFF groff)
  set(zip_texts)
  foreach(file README.md LICENSE)
    get_filename_component(name ${file} NAME_WE)
    set(text ${PROJECT_BINARY_DIR}/windows_zip/${name}.txt)
    set(source ${PROJECT_SOURCE_DIR}/${file})
    add_custom_command(OUTPUT ${text}
      COMMAND ${CMAKE_COMMAND} -DIN=${source} -DOUT=${text}
              -P ${PROJECT_SOURCE_DIR}/cmake/windows-text.cmake
      DEPENDS ${source} ${PROJECT_SOURCE_DIR}/cmake/windows-text.cmake
      VERBATIM)
    list(APPEND zip_texts ${text})
  endforeach()
  if(GROFF)
    foreach(page d88cut d88ls d88cmp d88raw d88split d88dir d88get d88merge d88make)
      set(text ${PROJECT_BINARY_DIR}/windows_zip/${page}.txt)
      add_custom_command(OUTPUT ${text}
        COMMAND ${CMAKE_COMMAND} -DIN=${PROJECT_BINARY_DIR}/man/${page}.1 -DOUT=${text}
                -DGROFF=${GROFF} -P ${PROJECT_SOURCE_DIR}/cmake/windows-text.cmake
        DEPENDS ${PROJECT_BINARY_DIR}/man/${page}.1 ${PROJECT_SOURCE_DIR}/cmake/windows-text.cmake
        VERBATIM)
      list(APPEND zip_texts ${text})
    endforeach()
  else()
    # Building and testing go on without groff; only the zip needs it.
    install(CODE [[message(FATAL_ERROR
      "groff not found: the manual pages cannot be put in the zip as text. "
      "Install Debian's package groff-base and configure again.")]]
      COMPONENT windows_zip EXCLUDE_FROM_ALL)
  endif()
  add_custom_target(windows_zip_texts ALL DEPENDS ${zip_texts})
  install(FILES ${zip_texts} DESTINATION . COMPONENT windows_zip EXCLUDE_FROM_ALL)
endif()

include(CPack)
