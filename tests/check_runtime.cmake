# Fails if the shared library holds any of the network object model, which belongs to the
# training library: reading needs the stream parser and the compiled pass only. The library's
# full symbol table must be there (it must name the stream parser), so that a stripped library
# cannot pass by showing nothing.
set(object_model
  TBackpropNetwork TADALINENetwork TBaseNetwork TBaseNode TBaseLink TFeedForwardNode TInputNode
  TBPNode TBPLink TBPOutputNode TBPMiddleNode TPattern TLList LayeredWeights NextNodeID
  NextLinkID ResetIDCounters RandomWeight SeedRandomWeights)
execute_process(COMMAND ${NM} -C --defined-only ${LIBRARY} OUTPUT_VARIABLE out
                RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()
if(NOT out MATCHES "ocrb::ParseBackpropStream")
  message(FATAL_ERROR "${LIBRARY} has no symbol table to check")
endif()
set(found)
foreach(name IN LISTS object_model)
  if(out MATCHES "[^A-Za-z0-9_]${name}[^A-Za-z0-9_]")
    list(APPEND found ${name})
  endif()
endforeach()
if(found)
  message(FATAL_ERROR "the runtime holds object-model code: ${found}")
endif()
message(STATUS "no object-model symbols in ${LIBRARY}")
