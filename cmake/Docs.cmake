# What every install carries besides the program: a manual page for each
# program, and in share/doc/quorvale the license as Debian's machine-readable
# copyright file and the changelog made from CHANGELOG.md. Compressed as
# Debian compresses them: gzip -9n (the most compression; no file name or
# time inside, so the same sources give the same bytes).
include(GNUInstallDirs)
find_program(QUORVALE_GZIP gzip REQUIRED)

# One page per installed program, written by hand in docs/man.
set(QUORVALE_MAN_PAGES quorvale.1 quorvale-cli.1)

set(QUORVALE_CONTACT "Quorvale Dev <dev@quorvale.invalid>")
set(docs ${CMAKE_BINARY_DIR}/docs)
set(docdir ${CMAKE_INSTALL_DATADIR}/doc/quorvale)
file(MAKE_DIRECTORY ${docs}/text)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             ${CMAKE_SOURCE_DIR}/LICENSE ${CMAKE_SOURCE_DIR}/CHANGELOG.md)

set(compressed)
# Writes a generated file only when its text changes, so that nothing built
# from it is built again at every configure.
function(quorvale_write path text)
  file(WRITE ${path}.new "${text}")
  file(COPY_FILE ${path}.new ${path} ONLY_IF_DIFFERENT)
  file(REMOVE ${path}.new)
endfunction()

# Compresses `source` into ${docs}/`name`.gz when the build runs.
function(quorvale_gzip source name)
  add_custom_command(OUTPUT ${docs}/${name}.gz
                     COMMAND ${CMAKE_COMMAND} -E copy ${source} ${docs}/${name}
                     COMMAND ${QUORVALE_GZIP} -9nf ${docs}/${name}
                     DEPENDS ${source} VERBATIM)
  set(compressed ${compressed} ${docs}/${name}.gz PARENT_SCOPE)
endfunction()

foreach(page ${QUORVALE_MAN_PAGES})
  string(REGEX MATCH "[1-9]$" section ${page})
  quorvale_gzip(${CMAKE_SOURCE_DIR}/docs/man/${page} ${page})
  install(FILES ${docs}/${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
endforeach()

# The copyright file: LICENSE in Debian's machine-readable format, where the
# MIT license is called Expat.
file(READ ${CMAKE_SOURCE_DIR}/LICENSE license)
if(NOT license MATCHES "Copyright \\(c\\) ([^\n]+)\n\n(.+)")
  message(FATAL_ERROR "LICENSE: no \"Copyright (c) ...\" line followed by the license text")
endif()
set(copyright_holder "${CMAKE_MATCH_1}")
string(STRIP "${CMAKE_MATCH_2}" license_text)
string(REPLACE "\n\n" "\n.\n" license_text "${license_text}")
string(REPLACE "\n" "\n " license_text "${license_text}")
quorvale_write(${docs}/copyright "\
Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: Quorvale
Upstream-Contact: ${QUORVALE_CONTACT}

Files: *
Copyright: ${copyright_holder}
Comment: The MIT license, as in the file LICENSE.
License: Expat
 ${license_text}
")
install(FILES ${docs}/copyright DESTINATION ${docdir})

# The changelog in Debian's format, which is what a native package's
# changelog.gz holds: each "## VERSION (YYYY-MM-DD)" section of CHANGELOG.md
# becomes an entry, each "- " item a "  * " one.
# Read line by line without a CMake list, which would split lines at ";".
file(READ ${CMAKE_SOURCE_DIR}/CHANGELOG.md rest)
set(changelog "")
set(trailer "")
while(NOT rest STREQUAL "")
  string(FIND "${rest}" "\n" end)
  if(end EQUAL -1)
    set(line "${rest}")
    set(rest "")
  else()
    string(SUBSTRING "${rest}" 0 ${end} line)
    math(EXPR end "${end} + 1")
    string(SUBSTRING "${rest}" ${end} -1 rest)
  endif()
  if(line STREQUAL "")
  elseif(line MATCHES "^## ([^ ]+) \\(([0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9])\\)$")
    set(version ${CMAKE_MATCH_1})
    if(changelog STREQUAL "" AND NOT version STREQUAL PROJECT_VERSION)
      message(FATAL_ERROR "CHANGELOG.md: the newest section is ${version}, the project is ${PROJECT_VERSION}")
    endif()
    execute_process(COMMAND env LC_ALL=C date -u -R -d "${CMAKE_MATCH_2} 12:00"
                    OUTPUT_VARIABLE date OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
    string(APPEND changelog "${trailer}quorvale (${version}) unstable; urgency=medium\n\n")
    set(trailer "\n -- ${QUORVALE_CONTACT}  ${date}\n\n")
  elseif(trailer STREQUAL "")
    # The title and the words before the first version.
  elseif(line MATCHES "^- (.+)")
    string(APPEND changelog "  * ${CMAKE_MATCH_1}\n")
  elseif(line MATCHES "^  ([^ ].*)")
    string(APPEND changelog "    ${CMAKE_MATCH_1}\n")
  else()
    message(FATAL_ERROR "CHANGELOG.md: a version's section holds only \"- \" items and their indented lines: ${line}")
  endif()
endwhile()
if(changelog STREQUAL "")
  message(FATAL_ERROR "CHANGELOG.md: no \"## VERSION (YYYY-MM-DD)\" section")
endif()
string(STRIP "${changelog}${trailer}" changelog)
quorvale_write(${docs}/text/changelog "${changelog}\n")
quorvale_gzip(${docs}/text/changelog changelog)
install(FILES ${docs}/changelog.gz DESTINATION ${docdir})

add_custom_target(docs ALL DEPENDS ${compressed})
