# Debian packages of an installed build (cpack, from a build directory configured with the
# prefix /usr: the preset "package"; scripts/check-packages makes and checks them):
#   libvesk<major>  the three shared libraries (component "runtime");
#   libvesk-dev     headers, the CMake package and the pkg-config file (component "development").
# The runtime package is named after the SONAME's version, so that libraries of two
# incompatible versions can be installed side by side; the development package pins it exactly.
# What Debian asks of every package beside its files (copyright, changelog, the ldconfig
# trigger, lintian's overrides with their reasons) is in cmake/debian/.
set(VESK_DEBIAN_DIR ${PROJECT_SOURCE_DIR}/cmake/debian)

# Who answers for the packages: their Maintainer field and the changelog's signature.
set(VESK_PACKAGE_MAINTAINER "foundation_util developers <foundation-util@vesk.invalid>"
    CACHE STRING "The Debian packages' maintainer, \"name <address>\"")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vesk)
set(CPACK_PACKAGE_VENDOR "foundation_util developers")
set(CPACK_PACKAGE_CONTACT "${VESK_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# The packages and cpack's scratch tree go to the build directory, not to where cpack runs.
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime development)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Maintainer scripts 0755 and the other control files 0644, whatever the source tree's modes.
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# Each package's description: its synopsis (at most 80 characters), then lines of at most 80.
set(vesk_about
    "foundation_util gives the components of one tool family typed data and its\n"
    "conversions, interned strings and source positions, hashing (CRC-32 and MD5),\n"
    "an exception root, file-system services, and text and numeric functions.\n")

set(VESK_RUNTIME_PACKAGE libvesk${PROJECT_VERSION_MAJOR})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME ${VESK_RUNTIME_PACKAGE})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
string(CONCAT CPACK_DEBIAN_RUNTIME_DESCRIPTION
       "foundation services of a tool family (shared libraries)\n" ${vesk_about}
       "This package holds the shared library foundation_util and the two host\n"
       "libraries under it, host_util and host_math.")
# dpkg-shlibdeps names the Debian packages of every library that the three link against
# (Boost.Filesystem, ISA-L, libdeflate, the C and C++ runtime), with their minimum versions.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SHLIBDEPS ON)
# Its shlibs file lets dpkg-shlibdeps do the same for the packages of programs that use it; a
# program built against this version runs with any later one of the same SONAME.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
# The trigger has ldconfig run once when a run of dpkg ends; the maintainer scripts, which
# CPack would otherwise write to call ldconfig themselves, do nothing.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA
    ${VESK_DEBIAN_DIR}/triggers ${VESK_DEBIAN_DIR}/postinst ${VESK_DEBIAN_DIR}/postrm)

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libvesk-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
string(CONCAT CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION
       "foundation services of a tool family (development files)\n" ${vesk_about}
       "This package holds the headers, the CMake package (find_package(vesk)) and\n"
       "the pkg-config file (vesk).")
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "${VESK_RUNTIME_PACKAGE} (= ${PROJECT_VERSION})")
# Catching the filesystem error by its own type, rather than as a std::runtime_error, takes
# Boost.Filesystem's header and library.
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SUGGESTS libboost-filesystem-dev)

# The changelog's latest entry is this version's, compressed as Debian's tools compress it
# (gzip -9n: no name or time in the header, so the same text gives the same bytes).
file(STRINGS ${VESK_DEBIAN_DIR}/changelog vesk_changelog_head LIMIT_COUNT 1)
string(REPLACE "." "\\." vesk_version_pattern ${PROJECT_VERSION})
if(NOT vesk_changelog_head MATCHES "^vesk \\(${vesk_version_pattern}\\) ")
  message(FATAL_ERROR "cmake/debian/changelog: the latest entry is not version "
                      "${PROJECT_VERSION}'s; give it an entry of its own first")
endif()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${VESK_DEBIAN_DIR}/changelog)
execute_process(COMMAND gzip -9n INPUT_FILE ${VESK_DEBIAN_DIR}/changelog
                OUTPUT_FILE ${PROJECT_BINARY_DIR}/changelog.gz COMMAND_ERROR_IS_FATAL ANY)

foreach(package IN ITEMS runtime development)
  if(package STREQUAL "runtime")
    set(name ${VESK_RUNTIME_PACKAGE})
  else()
    set(name libvesk-dev)
  endif()
  install(FILES ${VESK_DEBIAN_DIR}/copyright ${PROJECT_BINARY_DIR}/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${name} COMPONENT ${package})
endforeach()
install(FILES ${VESK_DEBIAN_DIR}/runtime.lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides
        RENAME ${VESK_RUNTIME_PACKAGE} COMPONENT runtime)

include(CPack)
