// The engine's thirteen parameters, in one table. Each row gives a parameter's id, its field in
// the engine context with the field's type, its default, the name and range that ocrb and the
// Python package give it, whether it is on/off rather than a number, and what it does. Sizes
// are pixels of a 200 dpi image.
//
// Everything that lists the parameters is made from this table: the context's fields, defaults
// and setter, the reader's parameter list (and through it ocrb's options, help and
// --print-parameters, and the Python keywords and their documentation), the read fuzzer and
// the test of the man page. The public header keeps its own ids and defaults, for C callers;
// a test holds them equal to the table.
//
// A new parameter is one row here, its id and default in ocrb.h, and the code that reads it.
#ifndef OCRB_ENGINE_PARAMETERS_H_
#define OCRB_ENGINE_PARAMETERS_H_

#include <cstdint>
#include <iterator>

// X(Id, Field, Type, Default, Name, Flag, Least, Most, Meaning)
#define OCRB_PARAMETER_TABLE(X)                                                                \
  X(1, InsertSpaces, uint8_t, 1, "insert-spaces", true, 0, 1,                                  \
    "fill wide gaps between characters with spaces")                                           \
  X(2, SpaceWidth, int32_t, 18, "space-width", false, 1, 10000, "width of one space in a gap") \
  X(3, MinCharWidth, int32_t, 4, "min-char-width", false, 0, 10000,                            \
    "a character is wider than this")                                                          \
  X(4, MinCharHeight, int32_t, 10, "min-char-height", false, 0, 10000,                         \
    "a character is taller than this")                                                         \
  X(5, MaxCharWidth, int32_t, 25, "max-char-width", false, 0, 10000,                           \
    "a character is at most this wide")                                                        \
  X(6, MaxCharHeight, int32_t, 30, "max-char-height", false, 0, 10000,                         \
    "a character is at most this tall")                                                        \
  X(7, SpeckSize, int32_t, 6, "speck-size", false, 0, 10000,                                   \
    "a blob this small is no character on its own")                                            \
  X(8, DashMinWidth, int32_t, 10, "dash-min-width", false, 0, 10000,                           \
    "least width of a flat mark (minus sign)")                                                 \
  X(9, DashMinHeight, int32_t, 2, "dash-min-height", false, 0, 10000,                          \
    "least height of a flat mark")                                                             \
  X(10, DashMaxWidth, int32_t, 20, "dash-max-width", false, 0, 10000,                          \
    "greatest width of a flat mark")                                                           \
  X(11, DashMaxHeight, int32_t, 8, "dash-max-height", false, 0, 10000,                         \
    "greatest height of a flat mark")                                                          \
  X(12, UseTemplates, int32_t, 0, "templates", true, 0, 1,                                     \
    "recognise with templates instead of the network")                                         \
  X(13, MaxPasses, int32_t, 8, "max-passes", false, 1, 8, "preprocessing passes per glyph")

namespace ocrb {

// One row of the table, for code that walks it.
struct TParameterRow {
  int32_t Id;
  const char* Field;
  int32_t Default;
  const char* Name;
  bool Flag;
  int32_t Least;
  int32_t Most;
  const char* Meaning;
};

#define OCRB_PARAMETER_ROW(id, field, type, def, name, flag, least, most, meaning) \
  TParameterRow{id, #field, def, name, flag, least, most, meaning},
inline constexpr TParameterRow kParameterRows[] = {OCRB_PARAMETER_TABLE(OCRB_PARAMETER_ROW)};
#undef OCRB_PARAMETER_ROW

inline constexpr int kParameterCount = static_cast<int>(std::size(kParameterRows));

// The ids run 1, 2, ... in table order, so that an id indexes the table.
constexpr bool IdsRunInOrder() {
  for (int i = 0; i < kParameterCount; ++i) {
    if (kParameterRows[i].Id != i + 1) return false;
  }
  return true;
}
static_assert(IdsRunInOrder());

}  // namespace ocrb

#endif  // OCRB_ENGINE_PARAMETERS_H_
