# Cross-build for x86_64 Windows with mingw-w64 (see toolchain-mingw-common.cmake).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(VELT_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-common.cmake)

# The 64-bit programs run here under Wine (ctest and test discovery go
# through it).
find_program(VELT_WINE64 NAMES wine64 wine PATHS /usr/lib/wine)
if(VELT_WINE64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VELT_WINE64})
endif()
