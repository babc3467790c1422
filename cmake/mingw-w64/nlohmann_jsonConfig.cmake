# nlohmann_json for the MinGW-w64 cross build: Debian's header-only package seen through a
# directory that holds its headers and nothing else of /usr/include.
if(NOT TARGET nlohmann_json::nlohmann_json)
  set(_jsonInclude ${CMAKE_BINARY_DIR}/nlohmann-json-include)
  file(MAKE_DIRECTORY ${_jsonInclude})
  file(CREATE_LINK /usr/include/nlohmann ${_jsonInclude}/nlohmann SYMBOLIC)
  add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
  set_target_properties(nlohmann_json::nlohmann_json PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES ${_jsonInclude})
endif()
