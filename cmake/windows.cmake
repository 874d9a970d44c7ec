# Windows specifics of the build, included by the top-level CMakeLists.txt when
# cross-building with one of the mingw-w64 toolchain files next to this file.
#
# The dependencies are Debian's Linux packages, used as sources here:
#  - spdlog and fmt from libspdlog-dev / libfmt-dev, header-only;
#  - CLI11 and nlohmann/json (the peer's library, which the end-to-end suite
#    links) from libcli11-dev / nlohmann-json3-dev, header-only;
#  - Loki's small-object allocator compiled from Debian's libloki source
#    package (libloki-dev ships only Linux binaries), fetched by
#    scripts/windows.sh into VELT_LOKI_SOURCE_DIR;
#  - GoogleTest from the googletest package (/usr/src/googletest).
# Only these headers are made visible to the cross compiler: the rest of
# /usr/include belongs to the Linux system.
set(VELT_PLATFORM_DIR win)
set(VELT_BUILD_BENCH OFF CACHE BOOL "benchmarks run on Linux" FORCE)
set(VELT_LOKI_SOURCE_DIR "" CACHE PATH "unpacked Debian libloki source (scripts/windows.sh fetches it)")
set(VELT_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources")

set(VELT_WIN_INCLUDE ${CMAKE_BINARY_DIR}/win-include)
file(MAKE_DIRECTORY ${VELT_WIN_INCLUDE})
foreach(dir spdlog fmt loki CLI nlohmann)
  if(NOT EXISTS /usr/include/${dir})
    message(FATAL_ERROR "/usr/include/${dir} is missing: run scripts/windows.sh (installs the Debian packages)")
  endif()
  file(CREATE_LINK /usr/include/${dir} ${VELT_WIN_INCLUDE}/${dir} SYMBOLIC)
endforeach()

add_library(spdlog::spdlog INTERFACE IMPORTED)
set_target_properties(spdlog::spdlog PROPERTIES
  INTERFACE_INCLUDE_DIRECTORIES ${VELT_WIN_INCLUDE}
  INTERFACE_COMPILE_DEFINITIONS "SPDLOG_HEADER_ONLY;FMT_HEADER_ONLY")
foreach(t CLI11::CLI11 nlohmann_json::nlohmann_json)
  add_library(${t} INTERFACE IMPORTED)
  set_target_properties(${t} PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${VELT_WIN_INCLUDE})
endforeach()

if(NOT EXISTS ${VELT_LOKI_SOURCE_DIR}/src/SmallObj.cpp)
  message(FATAL_ERROR "VELT_LOKI_SOURCE_DIR must name the unpacked libloki source (scripts/windows.sh fetches it)")
endif()
add_library(velt_loki STATIC ${VELT_LOKI_SOURCE_DIR}/src/SmallObj.cpp)
target_include_directories(velt_loki SYSTEM PUBLIC ${VELT_WIN_INCLUDE})
target_compile_options(velt_loki PRIVATE -w)  # third-party code, built as shipped
set(LOKI_LIBRARY velt_loki)

# Winsock (AcceptEx and ConnectEx are found through it at run time);
# everything else is in kernel32.
set(VELT_WIN_SYSTEM_LIBS ws2_32)

# veltrane.dll, as the hosts know it, with veltrane.dll.a as import library.
set(CMAKE_SHARED_LIBRARY_PREFIX "")
set(CMAKE_IMPORT_LIBRARY_PREFIX "")
# Windows finds a program's DLLs beside it: the test programs, the example
# and both DLLs share one folder.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)

# Once the targets exist: the DLL's exports and imports are a test.
# The DLL also writes veltrane.def, from which MSVC hosts make an import library.
function(velt_windows_tests)
  if(TARGET veltrane)
    target_link_options(veltrane PRIVATE -Wl,--output-def,${CMAKE_BINARY_DIR}/veltrane.def)
    add_test(NAME dll_exports
      COMMAND bash ${CMAKE_SOURCE_DIR}/tests/e2e/check_exports.sh $<TARGET_FILE:veltrane> ${CMAKE_OBJDUMP})
    set_tests_properties(dll_exports PROPERTIES LABELS e2e)
  endif()
endfunction()
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL velt_windows_tests)

if(VELT_BUILD_TESTS)
  # The test lists are read when ctest runs (under Wine, through
  # CMAKE_CROSSCOMPILING_EMULATOR), so building needs no Wine.
  set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(${VELT_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  foreach(t gtest gtest_main gmock gmock_main)  # it names them GTest::* itself
    target_compile_options(${t} PRIVATE -w)
  endforeach()
endif()
