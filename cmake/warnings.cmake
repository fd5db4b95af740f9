# Project-wide compiler settings: strict warnings, sanitizers in the debug build,
# static runtime for Windows binaries so they need no MinGW DLLs.
add_compile_options(-Wall -Wextra -Werror)
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  # GCC 12 reports false overlaps in inlined std::string appends at -O2 and above.
  add_compile_options(-Wno-restrict)
endif()

if(KESTRELON_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

if(WIN32)
  # The mail client runs on Windows XP SP3 (32-bit) and XP x64 / Server 2003 (64-bit):
  # the headers then declare nothing newer.
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(KESTRELON_WINNT 0x0502)
  else()
    set(KESTRELON_WINNT 0x0501)
  endif()
  add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=${KESTRELON_WINNT} WINVER=${KESTRELON_WINNT})
  add_link_options(-static -static-libgcc -static-libstdc++)
endif()
