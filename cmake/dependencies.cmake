if(NOT CMAKE_CROSSCOMPILING)
  # Native builds take {fmt} and GoogleTest from the Debian packages.
  find_package(fmt 9 REQUIRED)
  # nlohmann/json is header-only; the result file is its only user.
  find_package(nlohmann_json 3 REQUIRED)
  if(BUILD_TESTING)
    find_package(GTest REQUIRED)
    include(GoogleTest)
  endif()
  return()
endif()

# Cross build: the target has no {fmt} or GoogleTest binaries, so both come from
# the Debian sources. {fmt} is used header-only through a folder that holds
# nothing but a link to its headers: adding /usr/include itself would hand the
# native C library headers to the cross compiler.
set(ZELVO_FMT_HEADERS /usr/include/fmt CACHE PATH "Folder of the {fmt} headers")
if(NOT EXISTS ${ZELVO_FMT_HEADERS}/format.h)
  message(FATAL_ERROR "{fmt} headers not found in ${ZELVO_FMT_HEADERS} (install libfmt-dev)")
endif()
set(zelvo_cross_include ${CMAKE_BINARY_DIR}/cross-include)
file(MAKE_DIRECTORY ${zelvo_cross_include})
file(CREATE_LINK ${ZELVO_FMT_HEADERS} ${zelvo_cross_include}/fmt SYMBOLIC)
add_library(fmt::fmt INTERFACE IMPORTED)
target_include_directories(fmt::fmt SYSTEM INTERFACE ${zelvo_cross_include})
target_compile_definitions(fmt::fmt INTERFACE FMT_HEADER_ONLY=1)
# nlohmann/json is header-only everywhere; the same kind of link brings it in.
set(ZELVO_JSON_HEADERS /usr/include/nlohmann CACHE PATH "Folder of the nlohmann/json headers")
if(NOT EXISTS ${ZELVO_JSON_HEADERS}/json.hpp)
  message(FATAL_ERROR "nlohmann/json headers not found in ${ZELVO_JSON_HEADERS} (install nlohmann-json3-dev)")
endif()
file(CREATE_LINK ${ZELVO_JSON_HEADERS} ${zelvo_cross_include}/nlohmann SYMBOLIC)
add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
target_include_directories(nlohmann_json::nlohmann_json SYSTEM INTERFACE ${zelvo_cross_include})

if(NOT BUILD_TESTING)
  return()
endif()

set(ZELVO_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest source tree")
if(NOT EXISTS ${ZELVO_GTEST_SOURCE}/CMakeLists.txt)
  message(FATAL_ERROR "GoogleTest sources not found in ${ZELVO_GTEST_SOURCE} (install googletest)")
endif()
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
# The packaged tree already defines GTest::gtest and GTest::gtest_main.
add_subdirectory(${ZELVO_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
include(GoogleTest)

if(WIN32)
  include(${CMAKE_CURRENT_LIST_DIR}/wine.cmake)
endif()
