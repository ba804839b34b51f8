# SPDX-License-Identifier: Apache-2.0
# cmake -DENGINE_DIR=<src/jet> -P check_engine_headers.cmake
#
# Fails when an internal header of the engine (any .h under ENGINE_DIR
# outside include/) does not include jet/internal/guard.h before anything else,
# or when a public header (include/jet/) includes anything but other public
# headers, base/status.h and the standard library.

file(GLOB_RECURSE headers RELATIVE "${ENGINE_DIR}" "${ENGINE_DIR}/*.h")
set(failures "")
foreach(header IN LISTS headers)
  file(STRINGS "${ENGINE_DIR}/${header}" includes REGEX "^#include ")
  if(header MATCHES "^include/")
    foreach(line IN LISTS includes)
      if(line MATCHES "^#include \"([^\"]+)\"")
        set(name "${CMAKE_MATCH_1}")
        if(NOT name STREQUAL "base/status.h" AND NOT EXISTS "${ENGINE_DIR}/include/${name}")
          string(APPEND failures "  ${header} includes ${name}, which is not public\n")
        endif()
      endif()
    endforeach()
  elseif(NOT header STREQUAL "internal/guard.h")
    list(GET includes 0 first)
    if(NOT first STREQUAL "#include \"jet/internal/guard.h\"")
      string(APPEND failures "  ${header} does not start by including jet/internal/guard.h\n")
    endif()
  endif()
endforeach()
if(failures)
  message(FATAL_ERROR "The engine's boundary has a gap:\n${failures}")
endif()
list(LENGTH headers count)
message(STATUS "${count} engine headers checked")
