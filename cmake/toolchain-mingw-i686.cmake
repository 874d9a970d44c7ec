# Cross-build for i686 Windows with mingw-w64 (see toolchain-mingw-common.cmake).
# 32-bit Windows programs cannot run on these build machines: this build is
# link-checked only.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(VELT_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-common.cmake)
