# The Debian package, built by CPack from the install rules: `cpack --config build/CPackConfig.cmake`.
# Beside what "cmake --install" puts in place it carries the manual pages, the copyright file and
# the Debian changelog, compressed the way Debian keeps them.
set(TENEMARK_PACKAGING_DIR ${CMAKE_SOURCE_DIR}/packaging)
set(TENEMARK_PACKAGE_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/tenemark)

# The changelog's newest entry gives the package's revision, so that both always agree.
file(STRINGS ${TENEMARK_PACKAGING_DIR}/changelog TENEMARK_CHANGELOG_TOP LIMIT_COUNT 1)
if(NOT TENEMARK_CHANGELOG_TOP MATCHES "^tenemark \\(${PROJECT_VERSION}-([0-9]+)\\) ")
    message(FATAL_ERROR "packaging/changelog: the newest entry is not for version ${PROJECT_VERSION}-N")
endif()
set(TENEMARK_PACKAGE_RELEASE ${CMAKE_MATCH_1})

# gzip -n: no name and no time in the header, so the same text always gives the same bytes.
set(TENEMARK_PACKAGE_GZ_DIR ${CMAKE_BINARY_DIR}/packaging)
set(TENEMARK_PACKAGE_GZ_FILES)
foreach(pair "tenemark.1;tenemark.1" "tenemark-db.1;tenemark-db.1" "changelog;changelog.Debian")
    list(GET pair 0 source)
    list(GET pair 1 name)
    set(out ${TENEMARK_PACKAGE_GZ_DIR}/${name}.gz)
    add_custom_command(OUTPUT ${out}
        COMMAND ${CMAKE_COMMAND} -E copy ${TENEMARK_PACKAGING_DIR}/${source} ${TENEMARK_PACKAGE_GZ_DIR}/${name}
        COMMAND gzip -9nf ${TENEMARK_PACKAGE_GZ_DIR}/${name}
        DEPENDS ${TENEMARK_PACKAGING_DIR}/${source}
        VERBATIM)
    list(APPEND TENEMARK_PACKAGE_GZ_FILES ${out})
endforeach()
add_custom_target(tenemark-package-docs ALL DEPENDS ${TENEMARK_PACKAGE_GZ_FILES})

install(FILES ${TENEMARK_PACKAGE_GZ_DIR}/tenemark.1.gz ${TENEMARK_PACKAGE_GZ_DIR}/tenemark-db.1.gz
    DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${TENEMARK_PACKAGING_DIR}/copyright ${TENEMARK_PACKAGE_GZ_DIR}/changelog.Debian.gz
    DESTINATION ${TENEMARK_PACKAGE_DOC_DIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tenemark)
set(CPACK_PACKAGE_VENDOR Tenemark)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_CONTACT "Tenemark maintainers <packages@tenemark.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "catalogue of apartments for a real estate agency")
# Lines of at most 80 characters; CPack indents them and turns an empty line into " .".
set(CPACK_PACKAGE_DESCRIPTION [=[
Tenemark keeps the apartments an agency offers: about twenty attributes
each, chosen from reference lists the agency maintains, photographs with
notes taken from picture files or a scanner (SANE), rooms with their areas
and contact information behind a password.

The catalogue is filtered, sorted and shown with the columns the operator
chooses; a table of chosen items and a page of one item with its
photographs open in an office suite. The catalogue is one SQLite file in
the user's data folder, or a database on a PostgreSQL server shared by
several desks. The tool tenemark-db makes, fills, checks and copies
catalogues.]=])
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${TENEMARK_PACKAGE_RELEASE})
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://tenemark.example/)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
# The libraries the binaries link are found by dpkg-shlibdeps, in the metafile helpers and the
# scanner manager (with its SANE) too, as they are in the package. The rest is what Qt and the
# program load or start by name: the driver of every catalogue file, the engine that draws the
# SVG icons, the fonts libwmf draws WMF text with, and the desktop's opener for reports and
# addresses.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6sql6-sqlite, libqt6svg6, fonts-urw-base35, xdg-utils")
# A catalogue on a server; the office suite that opens the reports as a table or a document.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libqt6sql6-psql")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "libreoffice-calc, libreoffice-writer")
include(CPack)
