# Run after rovanta_render is built for a processor without baseline SSE2:
#   cmake -DNM=... -DOBJDUMP=... -DOBJECTS="a.obj|b.obj|..." -P check-sse2-isolation.cmake
# The SSE2 build of the fast paths may define one external function,
# drawCubeFastSse2, and no static initialiser; no other object may hold an
# instruction on an XMM register. Otherwise an SSE2 copy of an inline
# function could be linked in for everyone, or SSE2 code could run before
# the processor has been asked.
string(REPLACE "|" ";" objects "${OBJECTS}")
set(found_sse2_object FALSE)
foreach(object IN LISTS objects)
  if(object MATCHES "cube_renderer_fast_sse2")
    set(found_sse2_object TRUE)
    execute_process(COMMAND ${NM} -g --defined-only ${object}
                    OUTPUT_VARIABLE symbols RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "${NM} failed on ${object}")
    endif()
    string(REPLACE "\n" ";" lines "${symbols}")
    foreach(line IN LISTS lines)
      # "address type name"; code is T (or W/i for shared copies).
      if(line MATCHES "^[0-9a-fA-F]+ [TtWwi] (.*)$")
        set(name "${CMAKE_MATCH_1}")
        if(NOT name MATCHES "drawCubeFastSse2")
          message(FATAL_ERROR "the SSE2 fast paths export ${name}; every function but "
                              "drawCubeFastSse2 must stay inside ${object}")
        endif()
      endif()
    endforeach()
    execute_process(COMMAND ${OBJDUMP} -h ${object} OUTPUT_VARIABLE sections)
    if(sections MATCHES "\\.ctors|\\.init_array")
      message(FATAL_ERROR "the SSE2 fast paths have a static initialiser, which would run "
                          "before the processor is asked")
    endif()
  else()
    execute_process(COMMAND ${OBJDUMP} -d --no-show-raw-insn ${object}
                    OUTPUT_VARIABLE code RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "${OBJDUMP} failed on ${object}")
    endif()
    if(code MATCHES "\n[ \t]*[0-9a-f]+:[ \t]+([a-z0-9]+)[^\n]*%xmm")
      message(FATAL_ERROR "${object} has SSE code (${CMAKE_MATCH_1} on an XMM register) "
                          "outside the SSE2 fast paths")
    endif()
  endif()
endforeach()
if(NOT found_sse2_object)
  message(FATAL_ERROR "no cube_renderer_fast_sse2 object among the library's objects")
endif()
