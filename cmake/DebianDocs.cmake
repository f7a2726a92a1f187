# What a Debian package documents beside the programs: the copyright file (the MIT licence in
# the machine-readable form), the upstream and package changelogs and the manual pages, English
# and French, all compressed as the packaging rules want (gzip -9n: no name, no time stamp).

find_program(MERIVAL_GZIP gzip REQUIRED)
set(MERIVAL_DOCS_OUT ${CMAKE_BINARY_DIR}/debian-docs)
file(MAKE_DIRECTORY ${MERIVAL_DOCS_OUT}/man/fr)

# copyright: the licence text as the body of a License paragraph (blank lines become " .").
file(STRINGS ${PROJECT_SOURCE_DIR}/LICENSE merival_license_lines)
set(merival_license_body "")
foreach(line IN LISTS merival_license_lines)
  if(line STREQUAL "")
    string(APPEND merival_license_body " .\n")
  else()
    string(APPEND merival_license_body " ${line}\n")
  endif()
endforeach()
file(WRITE ${MERIVAL_DOCS_OUT}/copyright
     "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
     "Upstream-Name: MERIVAL\n"
     "\n"
     "Files: *\n"
     "Copyright: 2026 MERIVAL developers\n"
     "License: Expat\n"
     "${merival_license_body}")
install(FILES ${MERIVAL_DOCS_OUT}/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})

configure_file(${PROJECT_SOURCE_DIR}/packaging/changelog.Debian.in
               ${MERIVAL_DOCS_OUT}/changelog.Debian @ONLY)

# source | compressed name (relative to MERIVAL_DOCS_OUT)
set(merival_gz_pairs
    "${MERIVAL_DOCS_OUT}/changelog.Debian|changelog.Debian.gz"
    "${PROJECT_SOURCE_DIR}/CHANGELOG.md|changelog.gz")
set(merival_manuals "")
foreach(program merival merival-poll merival-export merival-history merival-sim)
  if(TARGET ${program})
    foreach(lang "" "fr/")
      list(APPEND merival_gz_pairs
           "${PROJECT_SOURCE_DIR}/docs/man/${lang}${program}.1|man/${lang}${program}.1.gz")
      list(APPEND merival_manuals "${lang}${program}")
    endforeach()
  endif()
endforeach()

set(merival_gz_outputs "")
foreach(pair IN LISTS merival_gz_pairs)
  string(REPLACE "|" ";" pair "${pair}")
  list(GET pair 0 source)
  list(GET pair 1 name)
  add_custom_command(
    OUTPUT ${MERIVAL_DOCS_OUT}/${name}
    COMMAND ${MERIVAL_GZIP} -9nc ${source} > ${MERIVAL_DOCS_OUT}/${name}
    DEPENDS ${source}
    VERBATIM)
  list(APPEND merival_gz_outputs ${MERIVAL_DOCS_OUT}/${name})
endforeach()
add_custom_target(merival_debian_docs ALL DEPENDS ${merival_gz_outputs})

install(FILES ${MERIVAL_DOCS_OUT}/changelog.Debian.gz ${MERIVAL_DOCS_OUT}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
foreach(manual IN LISTS merival_manuals)
  get_filename_component(lang "${manual}" DIRECTORY)
  if(lang)
    set(lang "${lang}/")
  endif()
  install(FILES ${MERIVAL_DOCS_OUT}/man/${manual}.1.gz
          DESTINATION ${CMAKE_INSTALL_MANDIR}/${lang}man1)
endforeach()

install(FILES ${PROJECT_SOURCE_DIR}/packaging/lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME merival)
