# kestrelon_shipped(TARGET...): marks the Windows binaries that users get. The test
# command reads their list (shipped-binaries.txt in the build folder) and checks that each
# loads on the oldest Windows the mail client runs on.
function(kestrelon_shipped)
  if(NOT WIN32)
    return()
  endif()
  foreach(target ${ARGN})
    set_property(GLOBAL APPEND PROPERTY KESTRELON_SHIPPED_FILES "$<TARGET_FILE:${target}>")
  endforeach()
endfunction()

# Writes the list once every target is defined; called last by the top-level file.
function(kestrelon_write_shipped_list)
  get_property(files GLOBAL PROPERTY KESTRELON_SHIPPED_FILES)
  list(JOIN files "\n" lines)
  file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/shipped-binaries.txt CONTENT "${lines}\n")
endfunction()
