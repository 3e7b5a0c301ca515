# Makes the manual page from the program's help with help2man, so that the two
# cannot drift apart; the hand-written include file adds what the help does not say.
# Run with cmake -P and these definitions:
#   HELP2MAN    the help2man program
#   PROGRAM     the program whose --help is read, or
#   HELP_FILE   a file holding that text (cross builds, whose program does not run here)
#   INCLUDE     the hand-written help2man include file
#   NAME        the one-line description; VERSION the program's version
#   DATE_EPOCH  the date on the page, in seconds since 1970 (reproducible pages)
#   WORK_DIR    a scratch folder
#   MAN_OUT     the page
#   TEXT_OUT    optional: a plain-text rendering with CRLF line ends (needs GROFF and COL)
#   README      optional: the README, whose "Failure messages" table becomes the
#               DIAGNOSTICS section
cmake_minimum_required(VERSION 3.25)

foreach(required HELP2MAN INCLUDE NAME VERSION DATE_EPOCH WORK_DIR MAN_OUT)
  if(NOT DEFINED ${required})
    message(FATAL_ERROR "make_manpage.cmake: ${required} not given")
  endif()
endforeach()

if(DEFINED PROGRAM)
  execute_process(COMMAND "${PROGRAM}" --help
                  INPUT_FILE /dev/null OUTPUT_VARIABLE help RESULT_VARIABLE rc TIMEOUT 60)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${PROGRAM} --help failed (${rc})")
  endif()
else()
  file(READ "${HELP_FILE}" help)
endif()
string(REPLACE "\r\n" "\n" help "${help}")

# The help is: "USAGE:", the usage line, the about paragraph, "OPTIONS, ARGUMENTS:"
# with one entry per option, a blank line and the memory table. help2man reads the
# GNU layout, so the usage goes on one "Usage:" line (the SYNOPSIS) and the list
# under "Options:"; the about paragraph is the help option's own sentence and goes
# into its empty entry instead of standing alone as the DESCRIPTION.
set(list_heading "\nOPTIONS, ARGUMENTS:\n")
string(FIND "${help}" "${list_heading}" list_at)
if(list_at EQUAL -1 OR NOT help MATCHES "^USAGE:\n  ([^\n]+)\n")
  message(FATAL_ERROR "the help has no usage line or no option list:\n${help}")
endif()
set(usage "${CMAKE_MATCH_1}")
string(SUBSTRING "${help}" 0 ${list_at} head)
string(REGEX REPLACE "^USAGE:\n  [^\n]+\n" "" about "${head}")
string(STRIP "${about}" about)
string(REPLACE "\n" " " about "${about}")

string(LENGTH "${list_heading}" heading_length)
math(EXPR list_at "${list_at} + ${heading_length}")
string(SUBSTRING "${help}" ${list_at} -1 rest)
string(FIND "${rest}" "\n\n" list_end)
if(list_end EQUAL -1)
  set(entries "${rest}")
  set(table "")
else()
  string(SUBSTRING "${rest}" 0 ${list_end} entries)
  math(EXPR table_at "${list_end} + 2")
  string(SUBSTRING "${rest}" ${table_at} -1 table)
endif()

# Entries: the description starts in column 26. help2man needs two blanks before
# it, and a left text of exactly 23 characters leaves only one.
set(options "")
set(first TRUE)
string(APPEND entries "\n")
while(NOT entries STREQUAL "")
  string(FIND "${entries}" "\n" eol)
  string(SUBSTRING "${entries}" 0 ${eol} line)
  math(EXPR eol "${eol} + 1")
  string(SUBSTRING "${entries}" ${eol} -1 entries)
  string(LENGTH "${line}" length)
  if(first AND NOT about STREQUAL "")
    string(STRIP "${line}" left)
    string(LENGTH "${left}" left_length)
    if(left_length LESS 24)
      set(line "  ${left}                        ")
      string(SUBSTRING "${line}" 0 26 line)
      string(APPEND line "${about}")
      string(LENGTH "${line}" length)
      set(about "")
    endif()
  endif()
  if(line MATCHES "^  -" AND length GREATER 26)
    string(SUBSTRING "${line}" 25 1 before)
    string(SUBSTRING "${line}" 26 1 start)
    if(before STREQUAL " " AND NOT start STREQUAL " ")
      string(SUBSTRING "${line}" 0 25 left)
      string(SUBSTRING "${line}" 25 -1 right)
      set(line "${left} ${right}")
    endif()
  endif()
  set(first FALSE)
  string(APPEND options "${line}\n")
endwhile()

file(MAKE_DIRECTORY "${WORK_DIR}")
set(reshaped "Usage: ${usage}\n\n")
if(NOT about STREQUAL "")
  string(APPEND reshaped "${about}\n\n")
endif()
string(APPEND reshaped "Options:\n${options}")
file(WRITE "${WORK_DIR}/zelvo.help" "${reshaped}")

# The memory table stays a table: verbatim, in a section of its own.
set(table_include "${WORK_DIR}/table.h2m")
if(table STREQUAL "")
  file(WRITE "${table_include}" "")
else()
  string(REPLACE "\\" "\\e" table "${table}")
  string(REPLACE "-" "\\-" table "${table}")
  string(REGEX REPLACE "\n+$" "" table "${table}")
  # \& before every line: a leading dot or quote would be a request.
  string(REPLACE "\n" "\n\\&" table "\\&${table}")
  file(WRITE "${table_include}" "[MEMORY PER THREAD]\n.nf\n${table}\n.fi\n")
endif()

# The failure messages: the README's table, one tagged paragraph per row, so a
# message added to one is in both.
set(diagnostics_include "${WORK_DIR}/diagnostics.h2m")
file(WRITE "${diagnostics_include}" "")
if(DEFINED README)
  # Lines as a list: a semicolon in the text would split one, so it is held
  # apart until the line is written out.
  file(READ "${README}" readme)
  string(REPLACE ";" "@SEMICOLON@" readme "${readme}")
  string(REPLACE "\n" ";" readme_lines "${readme}")
  set(in_table FALSE)
  set(diagnostics "")
  foreach(line IN LISTS readme_lines)
    if(line STREQUAL "## Failure messages")
      set(in_table TRUE)
    elseif(in_table AND line MATCHES "^## ")
      break()
    elseif(in_table AND line MATCHES "^\\| `([^`]+)` \\| (.+) \\|$")
      set(message "${CMAKE_MATCH_1}")
      set(meaning "${CMAKE_MATCH_2}")
      string(REPLACE "`" "" meaning "${meaning}")
      foreach(var message meaning)
        string(REPLACE "\\" "\\e" ${var} "${${var}}")
        string(REPLACE "-" "\\-" ${var} "${${var}}")
      endforeach()
      string(APPEND diagnostics ".TP\n.B \\&${message}\n\\&${meaning}\n")
    endif()
  endforeach()
  if(diagnostics STREQUAL "")
    message(FATAL_ERROR "${README}: no \"Failure messages\" table")
  endif()
  string(REPLACE "@SEMICOLON@" ";" diagnostics "${diagnostics}")
  file(WRITE "${diagnostics_include}" "[DIAGNOSTICS]\nEvery message on standard error that ends a run or fails a thread; the exit status is then 1.\n${diagnostics}")
endif()

# help2man runs its argument with --help; this stand-in prints the reshaped text.
file(WRITE "${WORK_DIR}/zelvo" "#!/bin/sh\nexec cat \"$(dirname \"$0\")/zelvo.help\"\n")
file(CHMOD "${WORK_DIR}/zelvo" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
     GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(ENV{SOURCE_DATE_EPOCH} "${DATE_EPOCH}")
set(ENV{LC_ALL} C)
# help2man runs the program through the shell, unquoted: hence the relative path.
execute_process(
  COMMAND "${HELP2MAN}" --no-info --section=1 "--name=${NAME}"
          "--version-string=zelvo ${VERSION}" "--include=${table_include}"
          "--include=${INCLUDE}" "--include=${diagnostics_include}" "--output=${MAN_OUT}" ./zelvo
  WORKING_DIRECTORY "${WORK_DIR}"
  RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "help2man failed (${rc})")
endif()

# A change in the help's layout that help2man no longer reads must not pass silently.
file(READ "${MAN_OUT}" page)
foreach(section SYNOPSIS OPTIONS "\"MEMORY PER THREAD\"")
  if(NOT page MATCHES "\n\\.SH ${section}\n")
    message(FATAL_ERROR "${MAN_OUT}: help2man made no ${section} section from the help")
  endif()
endforeach()

if(DEFINED TEXT_OUT)
  # Plain ASCII, without the overstrikes grotty uses for bold and underline.
  execute_process(
    COMMAND "${GROFF}" -man -Tascii -P-cbou "${MAN_OUT}"
    COMMAND "${COL}" -bx
    OUTPUT_VARIABLE text ERROR_VARIABLE errors RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0 OR NOT errors STREQUAL "")
    message(FATAL_ERROR "rendering ${MAN_OUT} failed (${rc}):\n${errors}")
  endif()
  string(REPLACE "\n" "\r\n" text "${text}")
  file(WRITE "${TEXT_OUT}" "${text}")
endif()
