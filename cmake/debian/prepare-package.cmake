# Run by CPack (CPACK_PRE_BUILD_SCRIPTS) on the tree the install rules made,
# just before it is packed. For the Debian package it turns that tree into
# what Debian asks of a package's files:
#   - manual pages compressed with gzip -9n (no name, no time stamp);
#   - usr/share/doc/d88cut/copyright in Debian's machine-readable format in
#     place of the plain LICENSE, and the changelog as changelog.gz;
#   - from programs and static libraries, what a distribution strips too:
#     debugging sections and the compiler's .comment and .note sections.
# Other generators get the tree as it is.
if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()

set(root "${CPACK_TEMPORARY_INSTALL_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}")
set(docdir "${root}/${CPACK_D88_INSTALL_DOCDIR}")

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    string(REPLACE ";" " " command "${ARGN}")
    message(FATAL_ERROR "${command}: ${status}")
  endif()
endfunction()

find_program(GZIP gzip REQUIRED)

# The changelog's newest entry must be the version being packed.
file(STRINGS "${CPACK_D88_DEBIAN_CHANGELOG}" top LIMIT_COUNT 1)
if(NOT top MATCHES "^d88cut \\(([^)]+)\\) ")
  message(FATAL_ERROR "${CPACK_D88_DEBIAN_CHANGELOG}: the first line is not a changelog entry's")
endif()
if(NOT CMAKE_MATCH_1 STREQUAL CPACK_PACKAGE_VERSION)
  message(FATAL_ERROR "${CPACK_D88_DEBIAN_CHANGELOG}: the newest entry is for ${CMAKE_MATCH_1}, "
    "the package is ${CPACK_PACKAGE_VERSION}: add an entry for it")
endif()

file(GLOB pages "${root}/${CPACK_D88_INSTALL_MANDIR}/man*/*")
foreach(page IN LISTS pages)
  if(NOT page MATCHES "\\.gz$")
    run(${GZIP} -9nf "${page}")
  endif()
endforeach()

file(REMOVE "${docdir}/LICENSE")
set(doc_permissions OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
file(COPY "${CPACK_D88_DEBIAN_COPYRIGHT}" DESTINATION "${docdir}"
  FILE_PERMISSIONS ${doc_permissions})
file(COPY "${CPACK_D88_DEBIAN_CHANGELOG}" DESTINATION "${docdir}"
  FILE_PERMISSIONS ${doc_permissions})
run(${GZIP} -9nf "${docdir}/changelog")

# The same sections dh_strip takes out; CPack has already stripped the
# programs' symbols (CPACK_STRIP_FILES).
if(CPACK_D88_STRIP)
  file(GLOB programs "${root}/${CPACK_D88_INSTALL_BINDIR}/*")
  foreach(program IN LISTS programs)
    run(${CPACK_D88_STRIP} --remove-section=.comment --remove-section=.note "${program}")
  endforeach()
  file(GLOB_RECURSE archives "${root}/*.a")
  foreach(archive IN LISTS archives)
    run(${CPACK_D88_STRIP} --strip-debug --remove-section=.comment --remove-section=.note
      --enable-deterministic-archives "${archive}")
  endforeach()
endif()
