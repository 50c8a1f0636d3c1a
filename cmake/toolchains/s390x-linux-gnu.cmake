# Cross build for IBM Z (64-bit, big-endian), run under qemu-s390x: see linux-gnu-cross.cmake.
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(VESK_CROSS_TRIPLET s390x-linux-gnu)
include(${CMAKE_CURRENT_LIST_DIR}/linux-gnu-cross.cmake)
