# What the cross toolchains share: Debian's cross compiler for VESK_CROSS_TRIPLET, the
# target's libraries unpacked by scripts/install-cross into build/sysroot/<processor> (or the
# folder VESK_CROSS_SYSROOT names), and qemu-user as the emulator that runs every test
# program, so that ctest runs the suite unchanged. Included by the file of each target, which
# sets CMAKE_SYSTEM_PROCESSOR and VESK_CROSS_TRIPLET first.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${VESK_CROSS_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${VESK_CROSS_TRIPLET}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${VESK_CROSS_TRIPLET})

if(DEFINED ENV{VESK_CROSS_SYSROOT})
  set(vesk_sysroot $ENV{VESK_CROSS_SYSROOT})
else()
  get_filename_component(vesk_sysroot
    "${CMAKE_CURRENT_LIST_DIR}/../../build/sysroot/${CMAKE_SYSTEM_PROCESSOR}" ABSOLUTE)
endif()
if(NOT EXISTS "${vesk_sysroot}/usr/include")
  message(FATAL_ERROR "no target libraries in ${vesk_sysroot}: "
                      "run scripts/install-cross ${CMAKE_SYSTEM_PROCESSOR}")
endif()

# The compiler's own C library comes first, the unpacked libraries after it; programs are the
# build machine's.
set(CMAKE_FIND_ROOT_PATH /usr/${VESK_CROSS_TRIPLET} ${vesk_sysroot})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(ENV{PKG_CONFIG_LIBDIR}
    "${vesk_sysroot}/usr/lib/${VESK_CROSS_TRIPLET}/pkgconfig:${vesk_sysroot}/usr/share/pkgconfig")
set(ENV{PKG_CONFIG_SYSROOT_DIR} ${vesk_sysroot})

# Headers that the target's packages keep under the target's own folder (OpenSSL's
# configuration), and the libraries that the unpacked ones link against in turn.
set(vesk_libdirs "${vesk_sysroot}/usr/lib/${VESK_CROSS_TRIPLET}:${vesk_sysroot}/lib/${VESK_CROSS_TRIPLET}")
set(CMAKE_C_STANDARD_INCLUDE_DIRECTORIES ${vesk_sysroot}/usr/include/${VESK_CROSS_TRIPLET})
set(CMAKE_CXX_STANDARD_INCLUDE_DIRECTORIES ${vesk_sysroot}/usr/include/${VESK_CROSS_TRIPLET})
foreach(kind EXE SHARED MODULE)
  set(CMAKE_${kind}_LINKER_FLAGS_INIT "-Wl,-rpath-link,${vesk_libdirs}")
endforeach()

# qemu-user with the target's loader and C library, and the unpacked libraries.
set(CMAKE_CROSSCOMPILING_EMULATOR
    qemu-${CMAKE_SYSTEM_PROCESSOR} -L /usr/${VESK_CROSS_TRIPLET} -E LD_LIBRARY_PATH=${vesk_libdirs})
