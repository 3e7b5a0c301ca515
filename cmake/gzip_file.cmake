# Compresses IN into OUT the way Debian wants it: best compression, and no name or
# time stamp in the header, so the same input always gives the same bytes.
# Run with cmake -DIN=<file> -DOUT=<file> -P gzip_file.cmake.
cmake_minimum_required(VERSION 3.25)
execute_process(COMMAND gzip -9n -c "${IN}" OUTPUT_FILE "${OUT}" RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  file(REMOVE "${OUT}")
  message(FATAL_ERROR "gzip ${IN} failed (${rc})")
endif()
