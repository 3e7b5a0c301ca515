# Native builds take {fmt} and GoogleTest from the Debian packages.
find_package(fmt 9 REQUIRED)
if(BUILD_TESTING)
  find_package(GTest REQUIRED)
  include(GoogleTest)
endif()
