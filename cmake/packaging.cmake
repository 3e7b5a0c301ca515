# Distributables: a zip for Windows and a tarball for Linux, each with the program,
# the README, the licence and the result file's JSON Schema (the zip also with the
# manual page as plain text), and a Debian package with the program, the manual
# page, the README, the copyright and the changelog in the places Debian puts them
# and the schema and zelvo-fleet's Python package in /usr/share/zelvo.

# The manual page is made from the program's help by help2man (make_manpage.cmake);
# without help2man there is no page, and so no Debian package either.
find_program(ZELVO_HELP2MAN help2man)
find_program(ZELVO_GROFF groff)
find_program(ZELVO_COL col)
set(ZELVO_MAN_NAME "CPU benchmark: 3-D electromagnetic field simulation per worker thread")
set(zelvo_man_dir ${CMAKE_BINARY_DIR}/man)
set(ZELVO_MAN_PAGE ${zelvo_man_dir}/zelvo.1)
set(zelvo_man_text "")
set(zelvo_man_args
  -DHELP2MAN=${ZELVO_HELP2MAN}
  -DINCLUDE=${PROJECT_SOURCE_DIR}/packaging/zelvo.h2m
  -DREADME=${PROJECT_SOURCE_DIR}/README.md
  -DNAME=${ZELVO_MAN_NAME}
  -DVERSION=${PROJECT_VERSION}
  -DDATE_EPOCH=${ZELVO_RELEASE_EPOCH}
  -DWORK_DIR=${zelvo_man_dir}/work
  -DMAN_OUT=${ZELVO_MAN_PAGE})
set(zelvo_man_depends
  ${PROJECT_SOURCE_DIR}/packaging/zelvo.h2m
  ${PROJECT_SOURCE_DIR}/README.md
  ${PROJECT_SOURCE_DIR}/cmake/make_manpage.cmake)

# zelvo-fleet's page is written by hand (it is no program help2man could ask);
# it carries the release's version and month like the generated one.
set(ZELVO_FLEET_MAN_PAGE ${zelvo_man_dir}/zelvo-fleet.1)
if(NOT WIN32)
  set(zelvo_saved_epoch "$ENV{SOURCE_DATE_EPOCH}")
  set(ENV{SOURCE_DATE_EPOCH} ${ZELVO_RELEASE_EPOCH})
  string(TIMESTAMP ZELVO_MAN_DATE "%B %Y" UTC)
  set(ENV{SOURCE_DATE_EPOCH} "${zelvo_saved_epoch}")
  configure_file(${PROJECT_SOURCE_DIR}/packaging/zelvo-fleet.1.in ${ZELVO_FLEET_MAN_PAGE} @ONLY)
endif()

if(NOT ZELVO_HELP2MAN)
  message(STATUS "help2man not found: no manual page, no Debian package")
elseif(CMAKE_CROSSCOMPILING)
  # The cross-built program does not run here (Wine exists only in test builds,
  # and starting it during the build leaves a server behind), so the page comes
  # from the help text that the end-to-end tests require the program to print.
  # For Windows users it goes into the zip as text with CRLF line ends.
  if(ZELVO_GROFF AND ZELVO_COL)
    set(zelvo_man_text ${zelvo_man_dir}/zelvo.txt)
    list(APPEND zelvo_man_args
      -DHELP_FILE=${PROJECT_SOURCE_DIR}/tests/e2e/help.txt
      -DTEXT_OUT=${zelvo_man_text} -DGROFF=${ZELVO_GROFF} -DCOL=${ZELVO_COL})
    list(APPEND zelvo_man_depends ${PROJECT_SOURCE_DIR}/tests/e2e/help.txt)
    add_custom_command(
      OUTPUT ${ZELVO_MAN_PAGE} ${zelvo_man_text}
      COMMAND ${CMAKE_COMMAND} ${zelvo_man_args} -P ${PROJECT_SOURCE_DIR}/cmake/make_manpage.cmake
      DEPENDS ${zelvo_man_depends}
      COMMENT "Generating the manual page as text (zelvo.txt)"
      VERBATIM)
    add_custom_target(zelvo_manpage ALL DEPENDS ${zelvo_man_text})
  else()
    message(STATUS "groff or col not found: the zip goes without the manual page")
  endif()
else()
  list(APPEND zelvo_man_args -DPROGRAM=$<TARGET_FILE:zelvo>)
  add_custom_command(
    OUTPUT ${ZELVO_MAN_PAGE}
    COMMAND ${CMAKE_COMMAND} ${zelvo_man_args} -P ${PROJECT_SOURCE_DIR}/cmake/make_manpage.cmake
    DEPENDS zelvo ${zelvo_man_depends}
    COMMENT "Generating the manual page zelvo.1 from the program's help"
    VERBATIM)
  # Debian keeps manual pages and changelogs compressed.
  foreach(in ${ZELVO_MAN_PAGE} ${ZELVO_FLEET_MAN_PAGE} ${PROJECT_SOURCE_DIR}/packaging/changelog)
    get_filename_component(name ${in} NAME)
    add_custom_command(
      OUTPUT ${zelvo_man_dir}/${name}.gz
      COMMAND ${CMAKE_COMMAND} -DIN=${in} -DOUT=${zelvo_man_dir}/${name}.gz
              -P ${PROJECT_SOURCE_DIR}/cmake/gzip_file.cmake
      DEPENDS ${in} ${PROJECT_SOURCE_DIR}/cmake/gzip_file.cmake
      VERBATIM)
  endforeach()
  add_custom_target(zelvo_manpage ALL
    DEPENDS ${zelvo_man_dir}/zelvo.1.gz ${zelvo_man_dir}/zelvo-fleet.1.gz
            ${zelvo_man_dir}/changelog.gz)
endif()

# The archives: flat, the program beside its README and the result file's schema.
set(ZELVO_RESULT_SCHEMA_FILE ${PROJECT_SOURCE_DIR}/packaging/zelvo-result.schema.json)
install(TARGETS zelvo RUNTIME DESTINATION . COMPONENT zelvo)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE ${ZELVO_RESULT_SCHEMA_FILE}
        DESTINATION . COMPONENT zelvo)
# zelvo-fleet drives Slurm clusters: the Linux archive and package carry it, the
# script with its package zelvo_fleet beside it in the archive. The modules are
# listed, so no byte code of a run from the source tree goes along.
set(ZELVO_FLEET_MODULES __init__.py compare.py constants.py errors.py local.py main.py
    report.py results.py slurm.py stats.py text.py trace.py)
list(TRANSFORM ZELVO_FLEET_MODULES PREPEND ${PROJECT_SOURCE_DIR}/fleet/zelvo_fleet/)
if(NOT WIN32)
  install(PROGRAMS ${PROJECT_SOURCE_DIR}/fleet/zelvo-fleet DESTINATION . COMPONENT zelvo)
  install(FILES ${ZELVO_FLEET_MODULES} DESTINATION zelvo_fleet COMPONENT zelvo)
endif()
if(zelvo_man_text)
  install(FILES ${zelvo_man_text} DESTINATION . COMPONENT zelvo)
endif()

set(CPACK_PACKAGE_NAME zelvo)
set(CPACK_PACKAGE_VENDOR zelvo)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY ${ZELVO_MAN_NAME})
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};zelvo;zelvo;/")
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
set(CPACK_STRIP_FILES ON)
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/cpack_dir_permissions.cmake)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME zelvo-${PROJECT_VERSION}-windows-x86_64)
else()
  set(CPACK_GENERATOR TGZ)
  set(CPACK_PACKAGE_FILE_NAME zelvo-${PROJECT_VERSION}-linux-x86_64)
endif()

# The Debian package: its own component, left out of a plain `cmake --install`.
# dpkg-shlibdeps (dpkg-dev) computes the run-time dependencies from the binary.
find_program(ZELVO_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(NOT WIN32 AND ZELVO_HELP2MAN AND NOT ZELVO_DPKG_SHLIBDEPS)
  message(STATUS "dpkg-shlibdeps not found (dpkg-dev): no Debian package")
endif()
if(NOT WIN32 AND ZELVO_HELP2MAN AND ZELVO_DPKG_SHLIBDEPS)
  install(TARGETS zelvo RUNTIME DESTINATION bin COMPONENT deb EXCLUDE_FROM_ALL)
  install(PROGRAMS ${PROJECT_SOURCE_DIR}/fleet/zelvo-fleet DESTINATION bin
          COMPONENT deb EXCLUDE_FROM_ALL)
  # A program's private Python modules: in its own folder under /usr/share,
  # where the script looks for them (../share/zelvo).
  install(FILES ${ZELVO_FLEET_MODULES} DESTINATION share/zelvo/zelvo_fleet
          COMPONENT deb EXCLUDE_FROM_ALL)
  install(FILES ${zelvo_man_dir}/zelvo.1.gz ${zelvo_man_dir}/zelvo-fleet.1.gz
          DESTINATION share/man/man1 COMPONENT deb EXCLUDE_FROM_ALL)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/packaging/copyright
                ${zelvo_man_dir}/changelog.gz
          DESTINATION share/doc/zelvo COMPONENT deb EXCLUDE_FROM_ALL)
  install(FILES ${ZELVO_RESULT_SCHEMA_FILE} DESTINATION share/zelvo COMPONENT deb EXCLUDE_FROM_ALL)

  list(APPEND CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER
      "zelvo maintainers <maintainers@users.noreply.c-seed-16e583d5.example>")
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION [[
Every worker thread advances its own three-dimensional electromagnetic field
simulation (electric and magnetic fields in double precision on a cubic grid,
finite differences on a staggered grid) for a fixed time. The score is the sum
of the threads' throughput in millions of grid-cell updates per second.

The grid size, the workload, the instruction set of the update kernels
(SSE2, AVX, AVX2, FMA), the thread count and the thread placement can be
chosen. The fields are checked after every step, and the two timers of every
thread are cross-checked after the run; only a run that passes both gets a
score.

zelvo-fleet runs zelvo on every node of a Slurm cluster and reports the nodes
that are invalid or slower than the others of their kind.]])
  # zelvo-fleet is Python 3 (standard library); its --plot needs matplotlib and
  # its submit the Slurm client commands. dpkg-shlibdeps adds the libraries.
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "python3")
  set(CPACK_DEBIAN_PACKAGE_SUGGESTS "python3-matplotlib, slurm-client")
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
  # Per generator: the Debian package installs the "deb" component under /usr.
  configure_file(${CMAKE_CURRENT_LIST_DIR}/cpack_options.cmake.in
                 ${CMAKE_BINARY_DIR}/cpack_options.cmake @ONLY)
  set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_BINARY_DIR}/cpack_options.cmake)
endif()
include(CPack)
