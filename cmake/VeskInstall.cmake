# Installation: headers, the three shared libraries, the CMake package and a pkg-config file.
# The libraries are the component "runtime"; what building against them needs is "development"
# (the two Debian packages of VeskPackage.cmake).
include(CMakePackageConfigHelpers)

set(VESK_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/vesk)

install(TARGETS foundation_util host_util host_math
  EXPORT vesk-targets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT development
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(DIRECTORY include/vesk DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT development)

install(EXPORT vesk-targets NAMESPACE vesk:: DESTINATION ${VESK_CMAKE_DIR} COMPONENT development)
configure_package_config_file(cmake/vesk-config.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/vesk-config.cmake
  INSTALL_DESTINATION ${VESK_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/vesk-config-version.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/vesk-config.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/vesk-config-version.cmake
        DESTINATION ${VESK_CMAKE_DIR} COMPONENT development)

# The pkg-config file finds the prefix relative to itself, so an installed tree can be moved;
# under /usr it names the prefix plainly, so that pkg-config drops the system's own include and
# library directories from what it prints, as it does for every other package there.
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  set(VESK_PC_PREFIX /usr)
else()
  file(RELATIVE_PATH VESK_PC_TO_PREFIX /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
  string(REGEX REPLACE "/$" "" VESK_PC_TO_PREFIX "${VESK_PC_TO_PREFIX}")
  set(VESK_PC_PREFIX "\${pcfiledir}/${VESK_PC_TO_PREFIX}")
endif()
configure_file(cmake/vesk.pc.in ${CMAKE_CURRENT_BINARY_DIR}/vesk.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/vesk.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
        COMPONENT development)

# The Debian packages install under /usr, for which GNUInstallDirs chooses Debian's multiarch
# library directory (lib/x86_64-linux-gnu), where the dynamic linker and pkg-config look: only a
# tree configured for that prefix (the preset "package") makes them.
if(PROJECT_IS_TOP_LEVEL AND CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  include(cmake/VeskPackage.cmake)
endif()
