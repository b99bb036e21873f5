# Fails if the library's code holds a fused multiply-add: the network's sums must round after
# every multiply and every add, so that results are the same bits on every processor.
if(NOT OBJDUMP)
  set(OBJDUMP objdump)
endif()
execute_process(COMMAND ${OBJDUMP} -d --no-show-raw-insn ${LIBRARY} OUTPUT_VARIABLE out
                RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "objdump failed on ${LIBRARY}")
endif()
string(REGEX MATCHALL "[^\n]*\tv?f(n)?m(add|sub)[0-9a-z]*[^\n]*" fused "${out}")
list(LENGTH fused count)
if(count GREATER 0)
  list(GET fused 0 first)
  message(FATAL_ERROR "${count} fused multiply-add instructions in ${LIBRARY}, such as:\n${first}")
endif()
message(STATUS "no fused multiply-add in ${LIBRARY}")
