# What reading needs: the stream parser and the compiled forward pass.
set(OCRB_NEURAL_SOURCES
  neural/compiled.cpp
  neural/compiled_avx2.cpp
  neural/compiled_avx512.cpp
  neural/failure.cpp)
# The network object model (nodes, links, ADALINE, back-propagation, patterns): the training
# library's, never the runtime's.
set(OCRB_NEURAL_TRAIN_SOURCES
  neural/adaline.cpp
  neural/backprop.cpp
  neural/base.cpp
  neural/pattern.cpp)
set(OCRB_NEURAL_TESTS
  tests/neural_base_test.cpp
  tests/pattern_test.cpp
  tests/adaline_test.cpp
  tests/backprop_test.cpp
  tests/netstream_test.cpp)
set(OCRB_NEURAL_BENCH
  bench/neural_bench.cpp)
