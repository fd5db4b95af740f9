# The compilers with posix threads and the resource compiler, by the names Debian's
# MinGW-w64 packages install (the plain names are alternatives links of no package).
string(REPLACE "_" "-" kestrelon_mingw_arch ${CMAKE_SYSTEM_PROCESSOR})
foreach(tool_and_package
    "gcc-posix:gcc-mingw-w64-${kestrelon_mingw_arch}-posix"
    "g++-posix:g++-mingw-w64-${kestrelon_mingw_arch}-posix"
    "windres:binutils-mingw-w64-${kestrelon_mingw_arch}")
  string(REPLACE ":" ";" pair ${tool_and_package})
  list(GET pair 0 tool)
  list(GET pair 1 package)
  if(NOT EXISTS /usr/bin/${KESTRELON_MINGW_PREFIX}-${tool})
    message(FATAL_ERROR "/usr/bin/${KESTRELON_MINGW_PREFIX}-${tool} not found: install Debian's ${package}")
  endif()
endforeach()

set(CMAKE_C_COMPILER /usr/bin/${KESTRELON_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER /usr/bin/${KESTRELON_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER /usr/bin/${KESTRELON_MINGW_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${KESTRELON_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
