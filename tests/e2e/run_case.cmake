# Runs the program once and checks exit code, standard output and standard error.
# Usage: cmake -DZELVO_BIN=... [-D...] -P run_case.cmake
#   ZELVO_BIN      the program
#   EMULATOR       command to run it through (cross builds), list items joined by "^^"
#   ARGS           its arguments, joined by "^^" (empty arguments cannot be passed);
#                  the expectations below carry their ";" as "^^" too
#   STDIN_FILE     file given as standard input
#   EXPECTED_EXIT  the exit code
#   STDOUT_FILE | STDOUT_REGEX | STDOUT_TEXT   expected output; none: must be empty
#   STDOUT_NOT_REGEX                           output must not match this
#   STDERR_TEXT | STDERR_REGEX                 expected error text (one line, without
#                                              its line break); none: must be empty
#   GOLDEN_PROGRAM the program name used in STDOUT_FILE's usage line; it is replaced
#                  by the file name of ZELVO_BIN (zelvo.exe on Windows)
#   RESULT_FILE    when set, "--json RESULT_FILE" goes in front of the arguments and
#                  every expectation above stays the same; a run that reached its
#                  report must leave the file, which RESULT_CHECK (a command, "^^"
#                  joined) then checks, and any other run must leave none
cmake_minimum_required(VERSION 3.25)

foreach(required ZELVO_BIN STDIN_FILE EXPECTED_EXIT)
  if(NOT DEFINED ${required})
    message(FATAL_ERROR "run_case.cmake: ${required} not given")
  endif()
endforeach()

string(REPLACE "^^" ";" emulator "${EMULATOR}")
string(REPLACE "^^" ";" args "${ARGS}")
foreach(key STDOUT_REGEX STDOUT_TEXT STDOUT_NOT_REGEX STDERR_TEXT STDERR_REGEX)
  if(DEFINED ${key})
    string(REPLACE "^^" ";" ${key} "${${key}}")
  endif()
endforeach()

if(DEFINED RESULT_FILE)
  file(REMOVE "${RESULT_FILE}")
  get_filename_component(result_dir "${RESULT_FILE}" DIRECTORY)
  file(MAKE_DIRECTORY "${result_dir}")
  set(args --json "${RESULT_FILE}" ${args})
endif()

execute_process(
  COMMAND ${emulator} "${ZELVO_BIN}" ${args}
  INPUT_FILE "${STDIN_FILE}"
  OUTPUT_VARIABLE actual_out
  ERROR_VARIABLE actual_err
  RESULT_VARIABLE actual_exit
  TIMEOUT 60)

# Windows writes text mode: each line break arrives as "\r\n".
string(REPLACE "\r\n" "\n" actual_out "${actual_out}")
string(REPLACE "\r\n" "\n" actual_err "${actual_err}")

set(failures "")
macro(fail what expected actual)
  string(APPEND failures "--- ${what}: expected\n[${expected}]\n--- got\n[${actual}]\n")
endmacro()

if(NOT actual_exit STREQUAL EXPECTED_EXIT)
  fail("exit code" "${EXPECTED_EXIT}" "${actual_exit}")
endif()

if(DEFINED STDOUT_FILE)
  file(READ "${STDOUT_FILE}" expected_out)
  string(REPLACE "\r\n" "\n" expected_out "${expected_out}")
  get_filename_component(program "${ZELVO_BIN}" NAME)
  if(DEFINED GOLDEN_PROGRAM AND NOT program STREQUAL GOLDEN_PROGRAM)
    string(REPLACE "USAGE:\n  ${GOLDEN_PROGRAM} [" "USAGE:\n  ${program} ["
           expected_out "${expected_out}")
  endif()
  if(NOT actual_out STREQUAL expected_out)
    fail("stdout (${STDOUT_FILE})" "${expected_out}" "${actual_out}")
  endif()
elseif(DEFINED STDOUT_REGEX)
  if(NOT actual_out MATCHES "${STDOUT_REGEX}")
    fail("stdout matching" "${STDOUT_REGEX}" "${actual_out}")
  endif()
else()
  if(NOT actual_out STREQUAL "${STDOUT_TEXT}")
    fail("stdout" "${STDOUT_TEXT}" "${actual_out}")
  endif()
endif()

if(DEFINED STDOUT_NOT_REGEX AND actual_out MATCHES "${STDOUT_NOT_REGEX}")
  fail("stdout not matching" "${STDOUT_NOT_REGEX}" "${actual_out}")
endif()

if(DEFINED STDERR_REGEX)
  if(NOT actual_err MATCHES "${STDERR_REGEX}")
    fail("stderr matching" "${STDERR_REGEX}" "${actual_err}")
  endif()
elseif(DEFINED STDERR_TEXT)
  if(NOT actual_err STREQUAL "${STDERR_TEXT}\n")
    fail("stderr" "${STDERR_TEXT}\n" "${actual_err}")
  endif()
elseif(NOT actual_err STREQUAL "")
  fail("stderr" "" "${actual_err}")
endif()

if(DEFINED RESULT_FILE)
  # The closing prompt comes only after the report (and so after the file).
  if(actual_out MATCHES "press enter to exit\n$")
    if(NOT EXISTS "${RESULT_FILE}")
      string(APPEND failures "--- the run reached its report but left no ${RESULT_FILE}\n")
    else()
      string(REPLACE "^^" ";" result_check "${RESULT_CHECK}")
      file(WRITE "${RESULT_FILE}.stdout" "${actual_out}")
      file(WRITE "${RESULT_FILE}.stderr" "${actual_err}")
      execute_process(
        COMMAND ${result_check} "${RESULT_FILE}" "${RESULT_FILE}.stdout" "${RESULT_FILE}.stderr"
                "${actual_exit}" ${args}
        OUTPUT_VARIABLE check_out ERROR_VARIABLE check_out RESULT_VARIABLE check_exit)
      if(NOT check_exit EQUAL 0)
        string(APPEND failures "--- result file ${RESULT_FILE}:\n${check_out}")
      endif()
    endif()
  elseif(EXISTS "${RESULT_FILE}")
    string(APPEND failures "--- no run, yet ${RESULT_FILE} was written\n")
  endif()
  # No temporary file may stay beside the result.
  file(GLOB leftovers "${result_dir}/.*.tmp")
  if(leftovers)
    string(APPEND failures "--- temporary files left: ${leftovers}\n")
  endif()
endif()

if(NOT failures STREQUAL "")
  string(REPLACE ";" " " shown_args "${args}")
  message(FATAL_ERROR "zelvo ${shown_args}\n${failures}")
endif()
