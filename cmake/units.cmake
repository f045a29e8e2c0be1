# The platform's units (quote, console, texfile, the board) are each compiled
# once, as objects: position-independent, since they go into the shared
# library too, and with their symbols hidden, since the library shows only
# its operations. An archive of each unit's objects serves the project's own
# programs and tests, which reach inside.

# Objects of a unit, from its sources.
function(softboard_objects name)
  add_library(${name} OBJECT ${ARGN})
  set_target_properties(${name} PROPERTIES POSITION_INDEPENDENT_CODE ON
                                           CXX_VISIBILITY_PRESET hidden
                                           VISIBILITY_INLINES_HIDDEN ON)
endfunction()

# An archive of a unit's objects, with its include folders; ARGN: what it
# links to (other archives, the libraries its objects use).
function(softboard_archive name objects)
  add_library(${name} STATIC $<TARGET_OBJECTS:${objects}>)
  target_include_directories(${name}
                             PUBLIC $<TARGET_PROPERTY:${objects},INTERFACE_INCLUDE_DIRECTORIES>)
  target_link_libraries(${name} PUBLIC ${ARGN})
endfunction()
