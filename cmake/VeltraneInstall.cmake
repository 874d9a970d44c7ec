# What `cmake --install` puts under the prefix: the shared library (versioned,
# with its SONAME), the public header, a CMake package (Veltrane::veltrane),
# a pkg-config file, and the two programs. The library with the test hooks is
# never installed. Included from the top-level CMakeLists.txt once every
# target exists; a platform that ships other files adds them to the lists.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

if(NOT TARGET veltrane)
  return()
endif()

# The version comes from project(); the SONAME changes with the major number.
set_target_properties(veltrane PROPERTIES
  VERSION ${PROJECT_VERSION}
  SOVERSION ${PROJECT_VERSION_MAJOR})

# The public header comes with the target, in the build tree and installed.
target_include_directories(veltrane PUBLIC $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>)

set(VELT_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/Veltrane)

# spdlog, fmt and Loki stay private to the library: its header names none of
# them and it is linked against their shared libraries, which the loader finds
# through the library's own NEEDED entries. A consumer links libveltrane alone.
install(TARGETS veltrane EXPORT VeltraneTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}  # import library of a DLL
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/veltrane.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

install(EXPORT VeltraneTargets NAMESPACE Veltrane:: DESTINATION ${VELT_INSTALL_CMAKEDIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/VeltraneConfig.cmake.in
  ${PROJECT_BINARY_DIR}/VeltraneConfig.cmake
  INSTALL_DESTINATION ${VELT_INSTALL_CMAKEDIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/VeltraneConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/VeltraneConfig.cmake ${PROJECT_BINARY_DIR}/VeltraneConfigVersion.cmake
  DESTINATION ${VELT_INSTALL_CMAKEDIR})

# The .pc file finds the prefix from its own place, so that
# `cmake --install --prefix` (or a moved tree) stays right.
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  set(VELT_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
  set(VELT_PC_LIBDIR "${CMAKE_INSTALL_LIBDIR}")
else()
  file(RELATIVE_PATH VELT_PC_UP /root/${CMAKE_INSTALL_LIBDIR}/pkgconfig /root)
  string(REGEX REPLACE "/$" "" VELT_PC_UP "${VELT_PC_UP}")
  set(VELT_PC_PREFIX "\${pcfiledir}/${VELT_PC_UP}")
  set(VELT_PC_LIBDIR "\${prefix}/${CMAKE_INSTALL_LIBDIR}")
endif()
if(IS_ABSOLUTE "${CMAKE_INSTALL_INCLUDEDIR}")
  set(VELT_PC_INCLUDEDIR "${CMAKE_INSTALL_INCLUDEDIR}")
else()
  set(VELT_PC_INCLUDEDIR "\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}")
endif()
configure_file(${CMAKE_CURRENT_LIST_DIR}/veltrane.pc.in ${PROJECT_BINARY_DIR}/veltrane.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/veltrane.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# The programs find the library in the prefix they were installed to.
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  set(VELT_PROGRAM_RPATH "${CMAKE_INSTALL_LIBDIR}")
else()
  set(VELT_PROGRAM_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
endif()
foreach(program veltrane-peer veltrane-demo)
  if(TARGET ${program})
    set_target_properties(${program} PROPERTIES INSTALL_RPATH "${VELT_PROGRAM_RPATH}")
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()
