# Checks the manual page against the help it was made from: rendered as plain text
# without line breaks (a very long line), without a groff warning, it must show the
# usage line as the SYNOPSIS, every option as its own item with its help sentence
# on the next line (the help option's with the about text), and the memory table
# line for line.
# line for line; with README given, also every failure message of its table under
# DIAGNOSTICS.
# Usage: cmake -DPAGE=zelvo.1 -DHELP_FILE=help.txt [-DREADME=README.md] -DGROFF=groff -DCOL=col -P manpage_test.cmake
cmake_minimum_required(VERSION 3.25)

execute_process(
  COMMAND "${GROFF}" -man -ww -Tascii -P-cbou -rLL=2000n "${PAGE}"
  COMMAND "${COL}" -bx
  OUTPUT_VARIABLE page ERROR_VARIABLE errors RESULT_VARIABLE rc)
if(NOT rc EQUAL 0 OR NOT errors STREQUAL "")
  message(FATAL_ERROR "groff on ${PAGE} failed (${rc}):\n${errors}")
endif()
file(READ "${HELP_FILE}" help)
string(REPLACE "\r\n" "\n" help "${help}")

set(failures "")
macro(expect text what)
  string(FIND "${page}" "${text}" found)
  if(found EQUAL -1)
    string(APPEND failures "--- ${what}: missing\n[${text}]\n")
  endif()
endmacro()

# Walk the help line by line: usage, about paragraph, option list, table.
set(part usage_heading)
set(about "")
set(left "")
while(NOT help STREQUAL "")
  string(FIND "${help}" "\n" eol)
  if(eol EQUAL -1)
    set(line "${help}")
    set(help "")
  else()
    string(SUBSTRING "${help}" 0 ${eol} line)
    math(EXPR eol "${eol} + 1")
    string(SUBSTRING "${help}" ${eol} -1 help)
  endif()

  if(part STREQUAL "usage_heading")
    set(part usage)
  elseif(part STREQUAL "usage")
    string(SUBSTRING "${line}" 2 -1 usage)
    expect("\nSYNOPSIS\n       ${usage}\n" "usage line")
    set(part about)
  elseif(part STREQUAL "about")
    if(line STREQUAL "OPTIONS, ARGUMENTS:")
      set(part first_entry)
    elseif(NOT line STREQUAL "")
      set(about "${line}")
    endif()
  elseif(part MATCHES "entry$")
    if(line STREQUAL "")
      set(part table)
      continue()
    endif()
    # An entry is its left text padded to 25 columns, a blank and the sentence; a
    # longer left text stands alone and the sentence follows on the next line,
    # after 26 blanks. An option without a sentence ends in the padding.
    string(LENGTH "${line}" length)
    set(head "${line}                          ")
    string(SUBSTRING "${head}" 0 26 head)
    string(SUBSTRING "${head}" 25 1 separator)
    string(STRIP "${head}" head)
    set(description "")
    if(length GREATER 26)
      string(SUBSTRING "${line}" 26 -1 description)
    endif()
    if(head STREQUAL "")
      # the sentence of the left text before
    elseif(separator STREQUAL " " AND NOT description MATCHES "^ ")
      set(left "${head}")
    else()
      string(STRIP "${line}" left)
      continue()
    endif()
    if(part STREQUAL "first_entry" AND description STREQUAL "")
      set(description "${about}")
    endif()
    if(description STREQUAL "")
      expect("\n       ${left}\n" "option ${left}")
    else()
      expect("\n       ${left}\n              ${description}\n" "option ${left}")
    endif()
    set(part entry)
  elseif(part STREQUAL "table" AND NOT line STREQUAL "")
    expect("\n       ${line}\n" "table line")
  endif()
endwhile()

if(NOT part STREQUAL "table")
  string(APPEND failures "--- the help ended before its memory table (${part})\n")
endif()

# Every failure message of the README's table, as its own item of DIAGNOSTICS.
if(DEFINED README)
  file(READ "${README}" readme)
  string(FIND "${readme}" "\n## Failure messages\n" table_at)
  if(table_at EQUAL -1)
    string(APPEND failures "--- the README has no failure messages table\n")
  endif()
  math(EXPR table_at "${table_at} + 1")
  string(SUBSTRING "${readme}" ${table_at} -1 readme)
  string(FIND "${readme}" "\n## " table_end)
  string(SUBSTRING "${readme}" 0 ${table_end} readme)
  # A semicolon would split a list item: held apart until the comparison.
  string(REPLACE ";" "@SEMICOLON@" readme "${readme}")
  string(REGEX MATCHALL "\n\\| `[^`]+` \\|" rows "${readme}")
  string(FIND "${page}" "\nDIAGNOSTICS\n" diagnostics_at)
  string(SUBSTRING "${page}" ${diagnostics_at} -1 page)
  foreach(row IN LISTS rows)
    string(REGEX REPLACE "^\n\\| `([^`]+)` \\|$" "\\1" message "${row}")
    string(REPLACE "@SEMICOLON@" ";" message "${message}")
    expect("\n       ${message}\n" "failure message")
  endforeach()
endif()
if(NOT failures STREQUAL "")
  message(FATAL_ERROR "${PAGE} does not match ${HELP_FILE}:\n${failures}\n--- page:\n${page}")
endif()
