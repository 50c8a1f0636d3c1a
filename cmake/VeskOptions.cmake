# Compiler options shared by every target of the project (never installed).

# vesk_project_options(<target>): warnings for the project's own code, and the sanitizers
# selected with VESK_SANITIZE.
add_library(vesk_project_options INTERFACE)
target_compile_options(vesk_project_options INTERFACE
  $<$<CXX_COMPILER_ID:GNU,Clang>:-Wall -Wextra -Wshadow -Wnon-virtual-dtor -Wold-style-cast
                                 -Wcast-align -Wnull-dereference -Wformat=2>
  $<$<BOOL:${VESK_WERROR}>:-Werror>)

if(VESK_SANITIZE)
  add_compile_options(-fsanitize=${VESK_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${VESK_SANITIZE})
endif()

# clang's sanitizers, and gcc's ThreadSanitizer, cannot run the resolvers of target clones,
# which run during relocation before the sanitizer runtime is set up (the instrumented
# resolver crashes the loader); such builds compile the baseline loops only.
if(VESK_SANITIZE AND (CMAKE_CXX_COMPILER_ID STREQUAL "Clang" OR VESK_SANITIZE MATCHES "thread"))
  add_compile_definitions(VESK_TARGET_CLONES=)
endif()

# Without CPU dispatch every loop is compiled for the x86-64 baseline only and the stand-in host
# library hashes short runs with libdeflate: the code that machines without AVX2 or PCLMUL run,
# built on a machine that has them so that its tests can run it.
if(NOT VESK_CPU_DISPATCH)
  add_compile_definitions(VESK_NO_CPU_DISPATCH)
endif()
