# Installation and packages. Included by the top-level CMakeLists.txt after the
# tool's target is defined.
#
#   cmake --install BUILD [--prefix DIR]
#   cmake --workflow --preset package           # Linux: build/packages/*.deb
#   cmake --workflow --preset windows-package   # Windows: build/packages/*.zip
#
# Linux takes the usual tree under the prefix: bin/, share/man/man1/ (and the
# Japanese page in share/man/ja/man1/), share/doc/tarnsek/. The Windows zip is
# one flat folder, as a Windows user unzips and runs it: tarnsek.exe beside its
# notes. The version of every file comes from the project version.
include(GNUInstallDirs)

set(TARNSEK_DOCS ${CMAKE_CURRENT_SOURCE_DIR}/docs)
set(TARNSEK_DOCS_OUT ${CMAKE_CURRENT_BINARY_DIR}/docs)
file(MAKE_DIRECTORY ${TARNSEK_DOCS_OUT}/ja)

# The manual pages name the version in their title line.
configure_file(${TARNSEK_DOCS}/tarnsek.1.in ${TARNSEK_DOCS_OUT}/tarnsek.1 @ONLY)
configure_file(${TARNSEK_DOCS}/tarnsek.ja.1.in ${TARNSEK_DOCS_OUT}/ja/tarnsek.1 @ONLY)

# The changelog's newest entry must be this version, so that a version raised
# without its entry fails here rather than in the package.
file(STRINGS ${TARNSEK_DOCS}/changelog TARNSEK_CHANGELOG_TOP LIMIT_COUNT 1)
if(NOT TARNSEK_CHANGELOG_TOP MATCHES "^tarnsek \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "docs/changelog: the newest entry is not version ${PROJECT_VERSION}")
endif()

if(WIN32)
  set(TARNSEK_USAGE_TXT "${TARNSEK_DOCS_OUT}/使い方.txt")
  configure_file(${TARNSEK_DOCS}/usage.ja.txt.in ${TARNSEK_DOCS_OUT}/usage.ja.txt @ONLY)
  add_custom_command(OUTPUT ${TARNSEK_USAGE_TXT}
    COMMAND ${CMAKE_COMMAND} -DSOURCE=${TARNSEK_DOCS_OUT}/usage.ja.txt
            -DTARGET=${TARNSEK_USAGE_TXT} -P ${CMAKE_CURRENT_SOURCE_DIR}/cmake/TextToCp932.cmake
    DEPENDS ${TARNSEK_DOCS_OUT}/usage.ja.txt ${CMAKE_CURRENT_SOURCE_DIR}/cmake/TextToCp932.cmake
    COMMENT "使い方.txt in code page 932 with CR LF")
  add_custom_target(tarnsek_docs ALL DEPENDS ${TARNSEK_USAGE_TXT})

  install(TARGETS tarnsek RUNTIME DESTINATION .)
  install(FILES ${TARNSEK_USAGE_TXT} README.md docs/guide.ja.md DESTINATION .)
  install(FILES examples/products.csv DESTINATION examples)
else()
  # Debian keeps manual pages and the changelog compressed, without a time
  # stamp in the gzip header (so that two builds give the same bytes).
  find_program(TARNSEK_GZIP gzip REQUIRED)
  set(TARNSEK_COMPRESSED)
  foreach(page tarnsek.1 ja/tarnsek.1)
    add_custom_command(OUTPUT ${TARNSEK_DOCS_OUT}/${page}.gz
      COMMAND ${TARNSEK_GZIP} -9nkf ${TARNSEK_DOCS_OUT}/${page}
      DEPENDS ${TARNSEK_DOCS_OUT}/${page})
    list(APPEND TARNSEK_COMPRESSED ${TARNSEK_DOCS_OUT}/${page}.gz)
  endforeach()
  add_custom_command(OUTPUT ${TARNSEK_DOCS_OUT}/changelog.gz
    COMMAND ${TARNSEK_GZIP} -9nc ${TARNSEK_DOCS}/changelog > ${TARNSEK_DOCS_OUT}/changelog.gz
    DEPENDS ${TARNSEK_DOCS}/changelog)
  list(APPEND TARNSEK_COMPRESSED ${TARNSEK_DOCS_OUT}/changelog.gz)
  add_custom_target(tarnsek_docs ALL DEPENDS ${TARNSEK_COMPRESSED})

  install(TARGETS tarnsek RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${TARNSEK_DOCS_OUT}/tarnsek.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${TARNSEK_DOCS_OUT}/ja/tarnsek.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/ja/man1)
  install(FILES README.md docs/guide.ja.md docs/copyright ${TARNSEK_DOCS_OUT}/changelog.gz
    DESTINATION ${CMAKE_INSTALL_DOCDIR})
  install(FILES examples/products.csv DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
endif()

set(CPACK_PACKAGE_NAME tarnsek)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "${TARNSEK_COMPANY}")
set(CPACK_PACKAGE_CONTACT "TARNSEK Project <maintainers@users.noreply.c-seed-4341ad3a.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "sort and merge CSV files of Shift_JIS text by typed keys")
set(CPACK_PACKAGE_DESCRIPTION
  "TARNSEK sorts one comma- or tab-separated file by up to 64 typed keys
(text, text without letter case, number, date and time) into an output file,
or merges up to 19 files already in key order. It is an external merge sort
of at most 1,245,184 records in chunks of 65,536, for Japanese business data:
every byte of code page 932 (Shift_JIS) text passes through untouched,
records are checked strictly, progress is logged with time stamps, and the
exit code names the class of any failure.")
set(CPACK_STRIP_FILES ON)
set(CPACK_VERBATIM_VARIABLES ON)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME tarnsek-${PROJECT_VERSION}-win64)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # The dependencies are those of the linked libraries, as dpkg-shlibdeps
  # finds them (libc6, libstdc++6, libgcc-s1).
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()
include(CPack)
