# Fails unless README.md holds every file of SOURCES whole, as a ```cpp block.
# cmake -DREADME=<README.md> "-DSOURCES=<file;file...>" -P check_readme.cmake
file(READ "${README}" readme)
set(stale "")
foreach(source IN LISTS SOURCES)
  file(READ "${source}" code)
  string(FIND "${readme}" "```cpp\n${code}```\n" position)
  if(position EQUAL -1)
    list(APPEND stale "${source}")
  endif()
endforeach()
if(stale)
  list(JOIN stale "\n  " stale_text)
  message(FATAL_ERROR "README.md does not show these files as they are (copy each whole into "
                      "a ```cpp block):\n  ${stale_text}")
endif()
