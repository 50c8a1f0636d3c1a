# Installs the build tree into a scratch prefix, then builds and runs two consumers against it:
# one with find_package(vesk), one with pkg-config and a plain compiler command.
# Arguments: BUILD_DIR, SOURCE_DIR, WORK_DIR, CXX, CXX_FLAGS, GENERATOR, and LIBDIR, the
# libraries' folder under the prefix (lib, or lib/x86_64-linux-gnu under /usr); or PREFIX instead
# of BUILD_DIR to build against a tree installed there already (the unpacked Debian packages),
# whose pkg-config file may name its prefix plainly (/usr): it is then read with that prefix
# replaced. EXAMPLES, a folder of single-file programs (the README's), adds each of them, built
# with the README's pkg-config command line and run.
# A cross build also gives TOOLCHAIN (its toolchain file), LINK_FLAGS (its linker flags) and
# EMULATOR (the command that runs its programs, with '|' between the words).
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "failed (${result}): ${ARGN}\n${output}")
  endif()
  message(STATUS "${output}")
endfunction()

file(REMOVE_RECURSE ${WORK_DIR})
if(PREFIX)
  set(prefix ${PREFIX})
else()
  set(prefix ${WORK_DIR}/prefix)
  run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
endif()

set(compiler -DCMAKE_CXX_COMPILER=${CXX})
if(TOOLCHAIN)
  # The toolchain searches the target's folders only, so the package is named by its folder.
  set(compiler -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN} -Dvesk_DIR=${prefix}/${LIBDIR}/cmake/vesk)
endif()
string(REPLACE "|" ";" emulator "${EMULATOR}")
run(${CMAKE_COMMAND} -S ${SOURCE_DIR}/consumer -B ${WORK_DIR}/cmake -G ${GENERATOR}
    -DCMAKE_PREFIX_PATH=${prefix} ${compiler} "-DCMAKE_CXX_FLAGS=${CXX_FLAGS}")
run(${CMAKE_COMMAND} --build ${WORK_DIR}/cmake)
run(${emulator} ${WORK_DIR}/cmake/consumer)
run(${emulator} ${WORK_DIR}/cmake/host_consumer)

set(ENV{PKG_CONFIG_PATH} ${prefix}/${LIBDIR}/pkgconfig)
set(moved "")
if(PREFIX)
  set(moved --define-variable=prefix=${PREFIX})
endif()
execute_process(COMMAND pkg-config ${moved} --cflags --libs vesk OUTPUT_VARIABLE flags
                RESULT_VARIABLE result OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "pkg-config does not know vesk")
endif()
# What a -dev package gives every user's link line: the libraries and where they are, no run
# path (a library in the system's folders needs none; a user of another prefix chooses).
if(flags MATCHES "rpath")
  message(FATAL_ERROR "pkg-config gives the users of vesk a run path: ${flags}")
endif()
separate_arguments(flags UNIX_COMMAND "${flags}")
separate_arguments(extra UNIX_COMMAND "${CXX_FLAGS} ${LINK_FLAGS}")
# This user's libraries lie outside the system's folders: it names them a run path of its own.
run(${CXX} -std=c++17 ${extra} ${SOURCE_DIR}/consumer/consumer.cpp -o ${WORK_DIR}/pc_consumer ${flags}
    -Wl,-rpath,${prefix}/${LIBDIR})
run(${emulator} ${WORK_DIR}/pc_consumer)

if(EXAMPLES)
  file(GLOB examples ${EXAMPLES}/*.cpp)
  file(MAKE_DIRECTORY ${WORK_DIR}/examples)
  foreach(example IN LISTS examples)
    get_filename_component(name ${example} NAME_WE)
    run(${CXX} -std=c++17 ${extra} ${example} -o ${WORK_DIR}/examples/${name} ${flags}
        -Wl,-rpath,${prefix}/${LIBDIR})
    run(${emulator} ${WORK_DIR}/examples/${name})
  endforeach()
endif()
