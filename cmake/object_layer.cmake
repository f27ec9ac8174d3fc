# object_layer(NAME SETTINGS target SOURCES... [USES target...]): one layer of a library as an
# object library. Hidden visibility: the library's export macro (ORB_API, HOST_API, or the C
# functions marked in <ry.h>) decides what leaves it. The layer links the settings its library
# shares and the layers it may include, which states the direction.
function(object_layer name)
  cmake_parse_arguments(PARSE_ARGV 1 LAYER "" "SETTINGS" "SOURCES;USES")
  add_library(${name} OBJECT ${LAYER_SOURCES})
  set_target_properties(${name} PROPERTIES CXX_VISIBILITY_PRESET hidden C_VISIBILITY_PRESET hidden
                                           VISIBILITY_INLINES_HIDDEN ON)
  target_link_libraries(${name} PUBLIC ${LAYER_SETTINGS} ${LAYER_USES})
endfunction()
