set(OCRB_ENGINE_SOURCES
  engine/context.cpp
  engine/lines.cpp
  engine/memory_api.cpp
  engine/ocrb.cpp)
set(OCRB_ENGINE_TESTS
  tests/lines_test.cpp
  tests/api_test.cpp)
