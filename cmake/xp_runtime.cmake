# Windows XP support for every Windows binary of the build: the import slot of
# GetTickCount64 that the toolchain's thread library needs (see the source file), linked
# as an object into each executable and DLL. Included last, once every target exists.
add_library(xp_runtime OBJECT ${CMAKE_SOURCE_DIR}/platform/win32/xp_runtime/get_tick_count64.cpp)

function(kestrelon_link_xp_runtime dir)
  get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
  foreach(target ${targets})
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "EXECUTABLE" OR type STREQUAL "SHARED_LIBRARY" OR type STREQUAL "MODULE_LIBRARY")
      target_link_libraries(${target} PRIVATE xp_runtime)
    endif()
  endforeach()
  get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
  foreach(subdir ${subdirs})
    kestrelon_link_xp_runtime(${subdir})
  endforeach()
endfunction()

kestrelon_link_xp_runtime(${CMAKE_SOURCE_DIR})
