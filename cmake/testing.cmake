# Unit tests: GoogleTest built from Debian's sources with the compiler of the build,
# so the same tests run natively and, for the Windows builds, under Wine.
if(NOT KESTRELON_FUZZ)
  # Windows tests run under Wine through scripts/wine-run and the other Wine scripts, which
  # take the architecture from KESTRELON_WINE_ARCH: 64-bit tests under Debian's wine64,
  # 32-bit ones under 32-bit Wine in the system that scripts/win32-system.sh makes.
  if(WIN32)
    if(CMAKE_SIZEOF_VOID_P EQUAL 8)
      set(wine_arch win64)
      if(NOT EXISTS /usr/lib/wine/wine64)
        message(FATAL_ERROR "/usr/lib/wine/wine64 not found: install Debian's wine64")
      endif()
    else()
      set(wine_arch win32)
    endif()
    file(WRITE ${CMAKE_BINARY_DIR}/wine-arch.cmake "set(ENV{KESTRELON_WINE_ARCH} ${wine_arch})\n")
    set_property(DIRECTORY ${CMAKE_SOURCE_DIR} APPEND PROPERTY TEST_INCLUDE_FILES ${CMAKE_BINARY_DIR}/wine-arch.cmake)
  endif()
  enable_testing()
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  # GoogleTest's own sources are not held to the project's warning rules.
  target_compile_options(gtest PRIVATE -Wno-error)
  target_compile_options(gtest_main PRIVATE -Wno-error)
endif()

# kestrelon_test(NAME SOURCES... LIBS ...): one test executable, registered with CTest.
# Windows builds run it through the emulator set in the toolchain file (Wine).
function(kestrelon_test name)
  if(KESTRELON_FUZZ)
    return()
  endif()
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} gtest_main gtest)
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES TIMEOUT 900)
endfunction()

# kestrelon_fuzzer(NAME SOURCES... LIBS ...): a libFuzzer target, only in the fuzz build.
function(kestrelon_fuzzer name)
  if(NOT KESTRELON_FUZZ)
    return()
  endif()
  cmake_parse_arguments(F "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${F_SOURCES})
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_libraries(${name} PRIVATE ${F_LIBS})
endfunction()
