# Debian packages of an installed build (cpack, from a build directory configured with the
# prefix /usr: the preset "package"; scripts/check-packages makes and checks them):
#   libvesk<major>  the three shared libraries (component "runtime");
#   libvesk-dev     headers, the CMake package and the pkg-config file (component "development").
# The runtime package is named after the SONAME's version, so that libraries of two
# incompatible versions can be installed side by side; the development package pins it exactly.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vesk)
set(CPACK_PACKAGE_VENDOR "foundation_util developers")
set(CPACK_PACKAGE_CONTACT "foundation_util developers <foundation-util@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "foundation_util, the foundation services of the tool family, over its host libraries")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime development)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)

set(VESK_RUNTIME_PACKAGE libvesk${PROJECT_VERSION_MAJOR})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME ${VESK_RUNTIME_PACKAGE})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION
    "foundation_util and its host libraries host_util and host_math (shared libraries)")
# dpkg-shlibdeps names the Debian packages of every library that the three link against
# (Boost.Filesystem, ISA-L, libdeflate, the C and C++ runtime), with their minimum versions.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SHLIBDEPS ON)
# Its shlibs file lets dpkg-shlibdeps do the same for the packages of programs that use it; a
# program built against this version runs with any later one of the same SONAME.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libvesk-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION
    "foundation_util: headers, CMake package (find_package(vesk)) and pkg-config file (vesk)")
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "${VESK_RUNTIME_PACKAGE} (= ${PROJECT_VERSION})")

include(CPack)
