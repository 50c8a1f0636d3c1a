# Cross build for 64-bit ARM (little-endian), run under qemu-aarch64: see linux-gnu-cross.cmake.
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(VESK_CROSS_TRIPLET aarch64-linux-gnu)
include(${CMAKE_CURRENT_LIST_DIR}/linux-gnu-cross.cmake)
