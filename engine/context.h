// The engine context: one record per handle holding the model, the thirteen parameters, the
// working image and the result store. Recording a result allocates nothing; the accessors of
// the C API are plain copies out of this record.
#ifndef OCRB_ENGINE_CONTEXT_H_
#define OCRB_ENGINE_CONTEXT_H_

#include <cstdint>
#include <memory>
#include <string_view>

#include "classify/model.h"
#include "engine/parameters.h"
#include "image/dib.h"
#include "ocrb.h"

namespace ocrb {

constexpr int kMaxLines = OCRB_MAX_LINES;
constexpr int kMaxLineLength = OCRB_MAX_LINE_LENGTH;

// A length byte followed by room for 255 single-byte characters; Chars[0] is character 1.
struct TShortString {
  uint8_t Length = 0;
  char Chars[255] = {};

  std::string_view View() const { return std::string_view(Chars, Length); }
  // Copies at most the first 255 characters of a NUL-terminated string.
  void Assign(const char* text);
};

// One line of recognised text. Entries 0..Text.Length-1 of Confidences and Rects run
// parallel to the characters; entries past the length mean nothing.
struct TResultLine {
  TShortString Text;
  float Confidences[kMaxLineLength] = {};
  TRect Rects[kMaxLineLength] = {};
  // Union of the rectangles of the characters placed into the line by AddCharToLines.
  TRect Bounds = {};
};

// The result store: up to 255 lines, the first LineCount of them valid. Lines from Touched on
// have never been written since the store was last cleared and are all zero, so clearing only
// has to zero the lines below Touched.
struct TResultStore {
  TResultLine Lines[kMaxLines] = {};
  int32_t LineCount = 0;
  int32_t Touched = 0;
};

// The thirteen parameters, as the table in engine/parameters.h lists them; all 0 until the
// defaults are set.
struct TParameters {
#define OCRB_PARAMETER_FIELD(id, field, type, ...) type field = 0;
  OCRB_PARAMETER_TABLE(OCRB_PARAMETER_FIELD)
#undef OCRB_PARAMETER_FIELD
};

// What one engine handle holds: the model, the parameters, the working image and the result
// store, and the copies of OCRB_Init's two reserved strings. What a read needs besides lives
// in the read (engine/read.h).
struct TEngineContext {
  // A model without a network, the store empty, every parameter 0.
  TEngineContext();

  // The network, its input vector and the tables, loaded by the model start-up
  // (engine/model.h).
  TModel Model;
  TParameters Parameters;
  // The private copy of the bitmap being read; kept from read to read so that a later read
  // takes over its block when it is large enough and not much larger.
  TDIB WorkImage;
  TShortString Reserved1;
  TShortString Reserved2;

  TResultStore& Results() { return *results_; }
  const TResultStore& Results() const { return *results_; }

 private:
  struct FreeStore {
    void operator()(TResultStore* store) const;
  };
  // The store is one zero-filled block from the system (1.4 MB): its pages cost nothing until
  // a line is written, so a handle that reads coding lines never touches most of it.
  std::unique_ptr<TResultStore, FreeStore> results_;
};

// Sets the thirteen parameters to their defaults.
void SetDefaultParameters(TEngineContext& context);

// Stores Value into parameter Id (1..13), converted to the field's type (parameter 1 keeps
// the low 8 bits). Returns false, changing nothing, for any other Id.
bool SetParameter(TEngineContext& context, int32_t id, int32_t value);

}  // namespace ocrb

#endif  // OCRB_ENGINE_CONTEXT_H_
