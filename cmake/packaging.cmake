# What an install holds besides the program and its icons (src/), and the
# Debian package made of it: bash scripts/package.sh builds it into dist/.

# Manual pages in resources/man, one name each.
set(QOR_MAN_PAGES qor.1 qor-cli.1)

set(QOR_HOMEPAGE "https://example.org/qor" CACHE STRING
    "Where the project's home page and docs/screenshot.png are published")
set(QOR_APP_ID "org.example.qor" CACHE STRING
    "AppStream id: the home page's domain reversed, then qor")
set(QOR_MAINTAINER "qor developers <qor@example.org>" CACHE STRING
    "Maintainer of the Debian package: name <address>")

set(_gen ${PROJECT_BINARY_DIR}/install-files)

# Debian wants manual pages and the changelog compressed, without a time
# stamp in the gzip header, so that two builds give the same package.
function(qor_gzip source output)
  add_custom_command(OUTPUT ${output}
    COMMAND gzip -9nc ${source} > ${output}
    DEPENDS ${source} VERBATIM)
  set(_qor_gzipped ${_qor_gzipped} ${output} PARENT_SCOPE)
endfunction()

set(_qor_gzipped)
foreach(_page IN LISTS QOR_MAN_PAGES)
  string(REGEX MATCH "[0-9]$" _section ${_page})
  qor_gzip(${PROJECT_SOURCE_DIR}/resources/man/${_page} ${_gen}/${_page}.gz)
  install(FILES ${_gen}/${_page}.gz DESTINATION share/man/man${_section})
endforeach()

# The changelog's first entry must name this version.
file(STRINGS ${PROJECT_SOURCE_DIR}/resources/debian/changelog _first LIMIT_COUNT 1)
if(NOT _first MATCHES "^qor \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "resources/debian/changelog does not begin with version ${PROJECT_VERSION}")
endif()
qor_gzip(${PROJECT_SOURCE_DIR}/resources/debian/changelog ${_gen}/changelog.gz)
add_custom_target(qor_install_files ALL DEPENDS ${_qor_gzipped})

install(FILES ${_gen}/changelog.gz ${PROJECT_SOURCE_DIR}/resources/debian/copyright
        DESTINATION share/doc/qor)

configure_file(${PROJECT_SOURCE_DIR}/resources/qor.metainfo.xml.in
               ${_gen}/${QOR_APP_ID}.metainfo.xml @ONLY)
install(FILES ${_gen}/${QOR_APP_ID}.metainfo.xml DESTINATION share/metainfo)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME qor)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${QOR_MAINTAINER})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${QOR_HOMEPAGE})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "move files to another folder by their last-write date")
# CPack puts a blank before each line and turns an empty one into " .".
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Sorvane is a small desktop tool with one window. It moves the files of a
source folder, and optionally of its subfolders, into a target folder at the
same relative place when the date on which each was last written is equal
to, before or after a reference date. It can add the date as a folder level
below the target and remove folders that it emptied, never replaces an
existing file, and writes a log of every file it took.

A run can also be started from the command line, and qor-cli runs the
same move from scripts and schedulers: it can choose files by their age in
days, show what a run would move, and take a run back.")
include(CPack)
