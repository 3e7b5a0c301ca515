# The release this tree builds: the newest entry of packaging/changelog names its
# version and date. The program's version comes from project(VERSION) through a
# generated header; the date is what the manual page carries, so a rebuild gives
# the same bytes. A changelog whose version is not the project's fails the
# end-to-end tests and the package check of scripts/test.sh.
set(zelvo_changelog ${PROJECT_SOURCE_DIR}/packaging/changelog)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${zelvo_changelog})
file(STRINGS ${zelvo_changelog} zelvo_changelog_lines)
list(GET zelvo_changelog_lines 0 zelvo_changelog_top)
if(NOT zelvo_changelog_top MATCHES "^zelvo \\(([^)]+)\\) ")
  message(FATAL_ERROR "packaging/changelog: the first line names no version: ${zelvo_changelog_top}")
endif()
set(ZELVO_CHANGELOG_VERSION ${CMAKE_MATCH_1})
set(zelvo_release_date "")
foreach(line IN LISTS zelvo_changelog_lines)
  if(line MATCHES "^ -- [^<]*<[^>]*>  (.+)$")
    set(zelvo_release_date ${CMAKE_MATCH_1})
    break()
  endif()
endforeach()
execute_process(COMMAND date -u -d "${zelvo_release_date}" +%s
                OUTPUT_VARIABLE ZELVO_RELEASE_EPOCH OUTPUT_STRIP_TRAILING_WHITESPACE
                RESULT_VARIABLE zelvo_date_result ERROR_QUIET)
if(NOT zelvo_date_result EQUAL 0 OR NOT ZELVO_RELEASE_EPOCH MATCHES "^[0-9]+$")
  message(FATAL_ERROR "packaging/changelog: no readable date in the newest entry ('${zelvo_release_date}')")
endif()

configure_file(${PROJECT_SOURCE_DIR}/bench/version.h.in ${PROJECT_BINARY_DIR}/generated/bench/version.h @ONLY)
