set(OCRB_CLASSIFY_SOURCES
  classify/classifier.cpp
  classify/glyph.cpp
  classify/tables.cpp)
set(OCRB_CLASSIFY_TESTS
  tests/classifier_test.cpp
  tests/glyph_test.cpp
  tests/tables_test.cpp)
