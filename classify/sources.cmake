set(OCRB_CLASSIFY_SOURCES
  classify/tables.cpp)
set(OCRB_CLASSIFY_TESTS
  tests/tables_test.cpp)
