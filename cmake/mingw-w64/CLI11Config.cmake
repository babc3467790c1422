# CLI11 for the MinGW-w64 cross build: Debian's header-only package seen through a directory
# that holds its headers and nothing else of /usr/include.
if(NOT TARGET CLI11::CLI11)
  set(_cli11Include ${CMAKE_BINARY_DIR}/cli11-include)
  file(MAKE_DIRECTORY ${_cli11Include})
  file(CREATE_LINK /usr/include/CLI ${_cli11Include}/CLI SYMBOLIC)
  add_library(CLI11::CLI11 INTERFACE IMPORTED)
  set_target_properties(CLI11::CLI11 PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${_cli11Include})
endif()
