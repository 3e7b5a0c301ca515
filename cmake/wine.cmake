# Windows programs of the cross build run under Wine, through a wrapper that keeps
# the Wine prefix inside the build tree (see wine_run.sh.in).
find_program(ZELVO_WINE64 NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
find_program(ZELVO_WINE64 NAMES wine64)
find_program(ZELVO_WINESERVER NAMES wineserver64 wineserver PATHS /usr/lib/wine NO_DEFAULT_PATH)
find_program(ZELVO_WINESERVER NAMES wineserver64 wineserver)
if(NOT ZELVO_WINE64 OR NOT ZELVO_WINESERVER)
  message(FATAL_ERROR "wine64 and wineserver are needed to test the Windows build (install wine64)")
endif()

set(ZELVO_WINE_ROOT ${CMAKE_BINARY_DIR}/wine)
set(ZELVO_WINE_RUN ${CMAKE_BINARY_DIR}/wine-run)
configure_file(${CMAKE_CURRENT_LIST_DIR}/wine_run.sh.in ${ZELVO_WINE_RUN} @ONLY
               FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
                                GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${ZELVO_WINE_RUN})

# Create the default prefix now rather than inside the first test (the wrapper
# logs to ${ZELVO_WINE_ROOT}/default-init.log).
if(NOT EXISTS ${ZELVO_WINE_ROOT}/default/.zelvo-ready)
  message(STATUS "Initialising the Wine prefix in ${ZELVO_WINE_ROOT}")
  execute_process(COMMAND ${ZELVO_WINE_RUN} --prepare
                  INPUT_FILE /dev/null OUTPUT_QUIET ERROR_QUIET
                  RESULT_VARIABLE zelvo_wine_init)
  if(NOT zelvo_wine_init EQUAL 0)
    message(WARNING "Wine prefix initialisation failed (${zelvo_wine_init}), see ${ZELVO_WINE_ROOT}/default-init.log")
  endif()
endif()
