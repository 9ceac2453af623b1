# Installation (GNU directory layout) and the Debian package made by CPack.
#   cmake --install build [--prefix P]        or   make install DESTDIR=...
#   cd build && cpack -G DEB                  or   make deb
include(GNUInstallDirs)

set(PELLORY_HOMEPAGE "https://pellory.org" CACHE STRING "The project's home page, named in the package metadata")
set(PELLORY_RELEASE_DATE "2026-12-07")
# The same date as the man pages write it: "December 2026".
string(REGEX MATCH "^([0-9][0-9][0-9][0-9])-([0-9][0-9])-" release_date_parts ${PELLORY_RELEASE_DATE})
set(release_year ${CMAKE_MATCH_1})
string(REGEX REPLACE "^0" "" release_month_number "${CMAKE_MATCH_2}")
math(EXPR release_month_index "${release_month_number} - 1")
set(month_names January February March April May June July August September October November December)
list(GET month_names ${release_month_index} release_month)
set(PELLORY_RELEASE_MONTH "${release_month} ${release_year}")
set(PELLORY_APP_ID "org.pellory.Pellory")

install(TARGETS pellory pellory-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

install(FILES ${PROJECT_SOURCE_DIR}/res/desktop/${PELLORY_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
configure_file(${PROJECT_SOURCE_DIR}/res/desktop/${PELLORY_APP_ID}.metainfo.xml.in
               ${PROJECT_BINARY_DIR}/${PELLORY_APP_ID}.metainfo.xml @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/${PELLORY_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

foreach(size 16 32 48 64 128 256)
  install(FILES ${PROJECT_SOURCE_DIR}/res/icons/hicolor/${size}x${size}/pellory.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()
install(FILES ${PROJECT_SOURCE_DIR}/res/icons/pellory.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

install(FILES ${PROJECT_SOURCE_DIR}/res/completion/pellory-cli
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)

# Man pages and the changelog go compressed (gzip -n: no name or time stamp, so the same
# sources give the same package). The man pages get the project's version here (man/*.1.in).
set(compressed)
foreach(page pellory.1 pellory-cli.1)
  configure_file(${PROJECT_SOURCE_DIR}/man/${page}.in ${PROJECT_BINARY_DIR}/man/${page} @ONLY)
  add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/man/${page}.gz
                     COMMAND gzip -9n -c ${PROJECT_BINARY_DIR}/man/${page} > ${PROJECT_BINARY_DIR}/man/${page}.gz
                     DEPENDS ${PROJECT_BINARY_DIR}/man/${page} VERBATIM)
  list(APPEND compressed ${PROJECT_BINARY_DIR}/man/${page}.gz)
  install(FILES ${PROJECT_BINARY_DIR}/man/${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/doc/changelog.gz
                   COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/doc
                   COMMAND gzip -9n -c ${PROJECT_SOURCE_DIR}/res/package/changelog > ${PROJECT_BINARY_DIR}/doc/changelog.gz
                   DEPENDS ${PROJECT_SOURCE_DIR}/res/package/changelog VERBATIM)
list(APPEND compressed ${PROJECT_BINARY_DIR}/doc/changelog.gz)
add_custom_target(pellory_compressed_docs ALL DEPENDS ${compressed})
install(FILES ${PROJECT_BINARY_DIR}/doc/changelog.gz ${PROJECT_SOURCE_DIR}/res/package/copyright
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/pellory)

set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "pellory")
set(CPACK_PACKAGE_VENDOR "Pellory")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_CONTACT "Pellory developers <developers@pellory.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "test and set up ORVA58 and ORVA80 receipt printers")
# The long description; CPack puts the summary above it as the synopsis.
string(CONCAT CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Pellory finds and tests the connection to a receipt printer, prints ready-made\n"
    "samples, reads the printer's status, changes its print settings, and prints\n"
    "typed text, raw command bytes written as hex, barcodes and pictures. Every\n"
    "byte it sends is echoed into a command history. A built-in virtual printer\n"
    "lets it be tried without hardware; pellory-cli runs the same actions from\n"
    "scripts.")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "utils")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${PELLORY_HOMEPAGE}")
# Dependencies come from the shared libraries the programs link (dpkg-shlibdeps); the data
# files the programs read, the receipt renderer's fonts, come from their own packages.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-dejavu-core, fonts-tlwg-mono-ttf, fonts-wqy-zenhei")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
