# What an install holds besides the program and its icons (src/), and the
# Debian package made of it: bash scripts/package.sh builds it into dist/.

# Manual pages in resources/man, one name each.
set(QOR_MAN_PAGES qor.1 qor-cli.1)

# Where the project is published is the publisher's to say: each of these is
# left out of the package and its metadata while it is empty.
set(QOR_HOMEPAGE "" CACHE STRING "The project's home page (Debian Homepage, AppStream url)")
set(QOR_SCREENSHOT_URL "" CACHE STRING
    "Address of docs/screenshot.png as published, for software centres")
set(QOR_BUG_URL "" CACHE STRING "Where users report problems (AppStream bugtracker url)")
set(QOR_APP_ID "qor" CACHE STRING
    "AppStream id: the publisher's domain reversed, then qor")
set(QOR_MAINTAINER "" CACHE STRING
    "Maintainer of the Debian package, name <address>; empty: the qor authors, without one")
# Build folders configured by earlier versions still hold their stand-ins.
foreach(_setting QOR_HOMEPAGE QOR_APP_ID QOR_MAINTAINER)
  if("${${_setting}}" MATCHES "example\\.org|^org\\.example\\.")
    get_property(_help CACHE ${_setting} PROPERTY HELPSTRING)
    set(_default "")
    if(_setting STREQUAL "QOR_APP_ID")
      set(_default qor)
    endif()
    set(${_setting} ${_default} CACHE STRING "${_help}" FORCE)
  endif()
endforeach()

set(_gen ${PROJECT_BINARY_DIR}/install-files)

# Debian wants manual pages and the changelog compressed, without a time
# stamp in the gzip header, so that two builds give the same package.
function(qor_gzip source output)
  add_custom_command(OUTPUT ${output}
    COMMAND gzip -9nc ${source} > ${output}
    DEPENDS ${source} VERBATIM)
  set(_qor_gzipped ${_qor_gzipped} ${output} PARENT_SCOPE)
endfunction()

# The release date, of the manual pages and the metainfo, is that of the
# changelog's first entry.
file(STRINGS ${PROJECT_SOURCE_DIR}/resources/debian/changelog _trailer REGEX "^ -- " LIMIT_COUNT 1)
if(NOT _trailer MATCHES ">?  [A-Z][a-z][a-z], ([0-9][0-9]) ([A-Z][a-z][a-z]) ([0-9][0-9][0-9][0-9]) ")
  message(FATAL_ERROR "resources/debian/changelog: no date in the first entry's last line")
endif()
set(_months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
list(FIND _months ${CMAKE_MATCH_2} _month)
math(EXPR _month "${_month} + 1" OUTPUT_FORMAT DECIMAL)
if(_month LESS 10)
  set(_month 0${_month})
endif()
set(QOR_RELEASE_DATE ${CMAKE_MATCH_3}-${_month}-${CMAKE_MATCH_1})

set(_qor_gzipped)
foreach(_page IN LISTS QOR_MAN_PAGES)
  string(REGEX MATCH "[0-9]$" _section ${_page})
  # The title line names this version and its date, whatever the page says.
  set(_source ${PROJECT_SOURCE_DIR}/resources/man/${_page})
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${_source})
  file(READ ${_source} _text)
  string(REGEX REPLACE "^(\\.TH [^ ]+ [0-9]+ )[^ ]+ \"qor [^\"]*\""
         "\\1${QOR_RELEASE_DATE} \"qor ${PROJECT_VERSION}\"" _text "${_text}")
  file(WRITE ${_gen}/${_page} "${_text}")
  qor_gzip(${_gen}/${_page} ${_gen}/${_page}.gz)
  install(FILES ${_gen}/${_page}.gz DESTINATION share/man/man${_section})
endforeach()

# The changelog's first entry must name this version.
file(STRINGS ${PROJECT_SOURCE_DIR}/resources/debian/changelog _first LIMIT_COUNT 1)
if(NOT _first MATCHES "^qor \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "resources/debian/changelog does not begin with version ${PROJECT_VERSION}")
endif()
if(QOR_MAINTAINER STREQUAL "")
  set(_maintainer "the qor authors")
else()
  set(_maintainer ${QOR_MAINTAINER})
endif()
# Each entry is signed by whoever publishes the package.
configure_file(${PROJECT_SOURCE_DIR}/resources/debian/changelog ${_gen}/changelog @ONLY)
qor_gzip(${_gen}/changelog ${_gen}/changelog.gz)
# The user guide, where Debian users look for it; without its pictures,
# which are not installed.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/README.md)
file(READ ${PROJECT_SOURCE_DIR}/README.md _text)
# Whole lines: a line break put first lets the first line match too, and a
# second pass takes the second of two pictures in a row.
set(_text "\n${_text}")
foreach(_pass 1 2)
  string(REGEX REPLACE "\n!\\[[^\n]*\\]\\([^\n]*\\)\n" "\n" _text "${_text}")
endforeach()
string(SUBSTRING "${_text}" 1 -1 _text)
file(WRITE ${_gen}/README.md "${_text}")
qor_gzip(${_gen}/README.md ${_gen}/README.md.gz)
add_custom_target(qor_install_files ALL DEPENDS ${_qor_gzipped})

install(FILES ${_gen}/changelog.gz ${_gen}/README.md.gz
              ${PROJECT_SOURCE_DIR}/resources/debian/copyright
        DESTINATION share/doc/qor)
install(FILES ${PROJECT_SOURCE_DIR}/resources/examples/qor-archive.service
              ${PROJECT_SOURCE_DIR}/resources/examples/qor-archive.timer
        DESTINATION share/doc/qor/examples)
install(FILES ${PROJECT_SOURCE_DIR}/resources/bash-completion/qor-cli
        DESTINATION share/bash-completion/completions)

# The metainfo's optional lines, each left out while its setting is empty.
set(QOR_METAINFO_URLS "")
if(NOT QOR_HOMEPAGE STREQUAL "")
  string(APPEND QOR_METAINFO_URLS "  <url type=\"homepage\">${QOR_HOMEPAGE}</url>\n")
endif()
if(NOT QOR_BUG_URL STREQUAL "")
  string(APPEND QOR_METAINFO_URLS "  <url type=\"bugtracker\">${QOR_BUG_URL}</url>\n")
endif()
set(QOR_METAINFO_SCREENSHOTS "")
if(NOT QOR_SCREENSHOT_URL STREQUAL "")
  string(APPEND QOR_METAINFO_SCREENSHOTS "  <screenshots>\n"
    "    <screenshot type=\"default\">\n"
    "      <caption>The window after a run</caption>\n"
    "      <image>${QOR_SCREENSHOT_URL}</image>\n"
    "    </screenshot>\n"
    "  </screenshots>\n")
endif()
configure_file(${PROJECT_SOURCE_DIR}/resources/qor.metainfo.xml.in
               ${_gen}/${QOR_APP_ID}.metainfo.xml @ONLY)
install(FILES ${_gen}/${QOR_APP_ID}.metainfo.xml DESTINATION share/metainfo)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME qor)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${_maintainer})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
if(NOT QOR_HOMEPAGE STREQUAL "")
  set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${QOR_HOMEPAGE})
endif()
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
