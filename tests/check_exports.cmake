# Fails unless the shared library's defined dynamic symbols are exactly the API functions.
set(expected
  OCRB_Done OCRB_GlobalAlloc OCRB_GlobalFree OCRB_GlobalLock OCRB_GlobalReAlloc OCRB_GlobalSize
  OCRB_GlobalUnlock OCRB_Init OCRB_Read OCRB_ResultLineChars OCRB_ResultLineConfidences
  OCRB_ResultLineLength OCRB_ResultLineRects OCRB_ResultLinesCount OCRB_SetParameter)
execute_process(COMMAND nm -D --defined-only ${LIBRARY} OUTPUT_VARIABLE out RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()
string(REPLACE "\n" ";" lines "${out}")
set(found)
foreach(line IN LISTS lines)
  # Symbol lines are "ADDRESS TYPE NAME"; version definitions (type A) are not functions.
  if(line MATCHES "^[0-9a-fA-F]+ ([A-Za-z]) (.+)$" AND NOT CMAKE_MATCH_1 STREQUAL "A")
    list(APPEND found ${CMAKE_MATCH_2})
  endif()
endforeach()
list(SORT found)
list(SORT expected)
if(NOT found STREQUAL expected)
  message(FATAL_ERROR "exported symbols differ\n  expected: ${expected}\n  found:    ${found}")
endif()
message(STATUS "exports: ${found}")
