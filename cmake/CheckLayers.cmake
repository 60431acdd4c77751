# cmake -DSOURCE_DIR=... -P CheckLayers.cmake
# Holds the arrows between the folders of src/ pointing down:
# - no component includes app/ (only app/ itself and the programs above it,
#   cli/ and bench/, may); tests of a component are programs too;
# - platform/ includes only platform/; bridge/ only platform/ and bridge/;
#   engine_api/ only platform/ and engine_api/;
# - JSON text is parsed only through platform/json (parseJson), which refuses
#   nesting deep enough to exhaust the stack.
# Prints every breach and fails when there is one.
cmake_minimum_required(VERSION 3.25)

set(breaches "")
file(GLOB_RECURSE sources RELATIVE ${SOURCE_DIR}/src ${SOURCE_DIR}/src/*.h ${SOURCE_DIR}/src/*.cpp)
foreach(source ${sources})
  if(source MATCHES "(^|/)tests/")
    continue()
  endif()
  string(REGEX MATCH "^[^/]+" component ${source})
  file(STRINGS ${SOURCE_DIR}/src/${source} includes REGEX "^[ \t]*#[ \t]*include[ \t]+\"[^\"/]+/")
  foreach(line ${includes})
    string(REGEX REPLACE "^[^\"]*\"([^\"/]+)/.*$" "\\1" target "${line}")
    set(allowed "")
    if(component STREQUAL "platform")
      set(allowed platform)
    elseif(component STREQUAL "bridge")
      set(allowed platform bridge)
    elseif(component STREQUAL "engine_api")
      set(allowed platform engine_api)
    elseif(NOT component MATCHES "^(app|cli)$" AND target STREQUAL "app")
      list(APPEND breaches "src/${source}: ${line}")
    endif()
    if(allowed AND NOT target IN_LIST allowed)
      list(APPEND breaches "src/${source}: ${line}")
    endif()
  endforeach()
  if(NOT source STREQUAL "platform/json.cpp")
    file(STRINGS ${SOURCE_DIR}/src/${source} parses REGEX "(Json|json|SortedJson)::parse\\(")
    foreach(line ${parses})
      list(APPEND breaches "src/${source}: JSON parsed without the depth limit: ${line}")
    endforeach()
  endif()
endforeach()

if(breaches)
  list(JOIN breaches "\n" text)
  message(FATAL_ERROR "Arrows pointing up or unchecked JSON parses:\n${text}")
endif()
message(STATUS "Layers hold")
