# Run after rovanta_render is built for a processor without baseline SSE2:
#   cmake -DNM=... -DOBJDUMP=... -DOBJECTS="a.obj|b.obj|..."
#         -DSSE2_OBJECTS="fast.obj" -P check-sse2-isolation.cmake
# OBJECTS are the library's own objects, SSE2_OBJECTS those of its SSE2 build
# of the fast paths. The SSE2 build may define one external function,
# drawCubeFastSse2, and no static initialiser; no other object may hold an
# instruction on an XMM register. Otherwise an SSE2 copy of an inline
# function could be linked in for everyone, or SSE2 code could run before
# the processor has been asked.
string(REPLACE "|" ";" objects "${OBJECTS}")
string(REPLACE "|" ";" sse2_objects "${SSE2_OBJECTS}")
if(NOT sse2_objects)
  message(FATAL_ERROR "no object of the SSE2 fast paths to check")
endif()
foreach(object IN LISTS sse2_objects)
  execute_process(COMMAND ${NM} -g --defined-only ${object}
                  OUTPUT_VARIABLE symbols RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${NM} failed on ${object}")
  endif()
  string(REPLACE "\n" ";" lines "${symbols}")
  set(found_entry FALSE)
  foreach(line IN LISTS lines)
    # "address type name"; code is T (or W/i for shared copies).
    if(line MATCHES "^[0-9a-fA-F]+ [TtWwi] (.*)$")
      set(name "${CMAKE_MATCH_1}")
      if(name MATCHES "drawCubeFastSse2")
        set(found_entry TRUE)
      else()
        message(FATAL_ERROR "the SSE2 fast paths export ${name}; every function but "
                            "drawCubeFastSse2 must stay inside ${object}")
      endif()
    endif()
  endforeach()
  if(NOT found_entry)
    message(FATAL_ERROR "${object} does not define drawCubeFastSse2")
  endif()
  execute_process(COMMAND ${OBJDUMP} -h ${object} OUTPUT_VARIABLE sections)
  if(sections MATCHES "\\.ctors|\\.init_array")
    message(FATAL_ERROR "the SSE2 fast paths have a static initialiser, which would run "
                        "before the processor is asked")
  endif()
endforeach()
foreach(object IN LISTS objects)
  execute_process(COMMAND ${OBJDUMP} -d --no-show-raw-insn ${object}
                  OUTPUT_VARIABLE code RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${OBJDUMP} failed on ${object}")
  endif()
  if(code MATCHES "\n[ \t]*[0-9a-f]+:[ \t]+([a-z0-9]+)[^\n]*%xmm")
    message(FATAL_ERROR "${object} has SSE code (${CMAKE_MATCH_1} on an XMM register) "
                        "outside the SSE2 fast paths")
  endif()
endforeach()
