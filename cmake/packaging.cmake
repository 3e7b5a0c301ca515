# Distributables: the program and the README, a zip for Windows and a tarball
# for Linux. Only the "zelvo" component is packed, whatever else installs.
install(TARGETS zelvo RUNTIME DESTINATION . COMPONENT zelvo)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION . COMPONENT zelvo)

set(CPACK_PACKAGE_NAME zelvo)
set(CPACK_PACKAGE_VENDOR zelvo)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "CPU benchmark: 3-D electromagnetic field simulation per worker thread")
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME zelvo-${PROJECT_VERSION}-windows-x86_64)
else()
  set(CPACK_GENERATOR TGZ)
  set(CPACK_PACKAGE_FILE_NAME zelvo-${PROJECT_VERSION}-linux-x86_64)
endif()
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};zelvo;zelvo;/")
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
set(CPACK_STRIP_FILES ON)
include(CPack)
