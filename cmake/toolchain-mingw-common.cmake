# What both mingw-w64 toolchain files share; each sets CMAKE_SYSTEM_PROCESSOR
# and VELT_MINGW_TRIPLE first. The -posix compilers carry the thread model that
# std::thread and std::mutex need; the runtime is linked statically so that
# the DLL and the test programs import only system DLLs.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${VELT_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VELT_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VELT_MINGW_TRIPLE}-windres)
set(CMAKE_OBJDUMP ${VELT_MINGW_TRIPLE}-objdump CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/${VELT_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
