# Warning and sanitizer flags as INTERFACE targets, linked PRIVATE by every target of the project.
add_library(quorlan_warnings INTERFACE)
target_compile_options(quorlan_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion -Wnon-virtual-dtor
  -Wold-style-cast -Woverloaded-virtual -Wnull-dereference -Wimplicit-fallthrough)
if(QUORLAN_WARNINGS_AS_ERRORS)
  target_compile_options(quorlan_warnings INTERFACE -Werror)
endif()

add_library(quorlan_sanitizers INTERFACE)
if(QUORLAN_SANITIZE)
  target_compile_options(quorlan_sanitizers INTERFACE
    -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  target_link_options(quorlan_sanitizers INTERFACE -fsanitize=address,undefined)
endif()

# quorlan_add_engine_library(name SOURCES ... LINKS ...)
function(quorlan_add_engine_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LINKS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARG_LINKS} PRIVATE quorlan_warnings quorlan_sanitizers)
endfunction()

# Fuzzer builds instrument the whole engine for coverage, not only the harnesses. Every sanitizer
# report ends the run as a failure: a finding that lets the fuzzer recover scrolls by unseen.
if(QUORLAN_BUILD_FUZZERS)
  target_compile_options(quorlan_sanitizers INTERFACE
    -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  target_link_options(quorlan_sanitizers INTERFACE -fsanitize=address,undefined)
endif()
