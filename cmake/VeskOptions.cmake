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
