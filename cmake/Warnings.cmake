# Warning and sanitizer flags shared by every target of the project.
add_library(tagwell_options INTERFACE)
target_compile_options(tagwell_options INTERFACE -Wall -Wextra -Wpedantic)
if(TAGWELL_WERROR)
  target_compile_options(tagwell_options INTERFACE -Werror)
endif()
if(TAGWELL_SANITIZE)
  target_compile_options(tagwell_options INTERFACE
    -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  target_link_options(tagwell_options INTERFACE -fsanitize=address,undefined)
endif()
# The fuzz build: every library carries libFuzzer's coverage hooks and the
# sanitizers; the fuzz targets add libFuzzer's own main (tests/fuzz).
if(TAGWELL_FUZZ)
  target_compile_options(tagwell_options INTERFACE
    -fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
    -fno-sanitize-recover=undefined)
  target_link_options(tagwell_options INTERFACE -fsanitize=address,undefined)
endif()

# tagwell_library(name SOURCES...) declares one layer's static library.
function(tagwell_library name)
  set(sources ${ARGN})
  if(NOT sources)
    set(sources ${PROJECT_SOURCE_DIR}/cmake/empty.cpp)
  endif()
  add_library(${name} STATIC ${sources})
  target_link_libraries(${name} PUBLIC tagwell_options)
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
endfunction()
