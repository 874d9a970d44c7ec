# The library as five layers, one static target each, every one linking only
# the layers below it:
#
#   veltrane_api        api/                 the coordinator (exports apart)
#   veltrane_report     report/              the report session, SecureTransfer
#   veltrane_framework  asynmodel/, net/     sessions, workers, transports
#   veltrane_helpers    tzhelper/            locks, pools, threads, timers
#   veltrane_platform   platform/            the only code with OS headers
#
# A layer's public include root holds one link, named as the includes spell
# its folder ("asynmodel/Session.h", "tzhelper/TzThread.h"), so a file sees
# its own layer and the layers it links and nothing else: an include against
# the direction fails to compile. cmake/CheckLayers.cmake checks what the
# targets cannot express (OS headers, platform internals, the programs).
# veltrane_core is the whole stack, for the shared library, tests and tools.
set(VELT_LAYER_ROOTS ${CMAKE_BINARY_DIR}/layers)

# velt_layer(<target> <include-name> <folder> [<source-glob>...])
function(velt_layer target name folder)
  set(root ${VELT_LAYER_ROOTS}/${target})
  file(MAKE_DIRECTORY ${root})
  file(CREATE_LINK ${folder} ${root}/${name} SYMBOLIC)
  set(globs ${ARGN})
  if(NOT globs)
    set(globs ${folder}/*.cpp)
  endif()
  file(GLOB sources CONFIGURE_DEPENDS ${globs})
  list(FILTER sources EXCLUDE REGEX ".*/api/exports\\.cpp$")
  add_library(${target} STATIC ${sources})
  target_include_directories(${target} PUBLIC ${root})
endfunction()

velt_layer(veltrane_platform platform ${CMAKE_SOURCE_DIR}/platform
  ${CMAKE_SOURCE_DIR}/platform/common/*.cpp ${CMAKE_SOURCE_DIR}/platform/${VELT_PLATFORM_DIR}/*.cpp)
target_link_libraries(veltrane_platform PRIVATE spdlog::spdlog PUBLIC Threads::Threads ${VELT_WIN_SYSTEM_LIBS})

velt_layer(veltrane_helpers tzhelper ${CMAKE_SOURCE_DIR}/inc/baselibrary/tzhelper)
target_link_libraries(veltrane_helpers PUBLIC veltrane_platform PRIVATE ${LOKI_LIBRARY})

velt_layer(veltrane_framework asynmodel ${CMAKE_SOURCE_DIR}/asynmodel
  ${CMAKE_SOURCE_DIR}/asynmodel/*.cpp ${CMAKE_SOURCE_DIR}/asynmodel/net/*.cpp)
target_link_libraries(veltrane_framework PUBLIC veltrane_helpers)

# The public C header: its types (callbacks, adjustment records) are the
# report session's as much as the exports'.
add_library(veltrane_public_header INTERFACE)
target_include_directories(veltrane_public_header INTERFACE ${CMAKE_SOURCE_DIR}/include)

velt_layer(veltrane_report report ${CMAKE_SOURCE_DIR}/report)
target_link_libraries(veltrane_report PUBLIC veltrane_framework veltrane_public_header)

velt_layer(veltrane_api api ${CMAKE_SOURCE_DIR}/api)
target_link_libraries(veltrane_api PUBLIC veltrane_report)

add_library(veltrane_core INTERFACE)
target_link_libraries(veltrane_core INTERFACE veltrane_api)
