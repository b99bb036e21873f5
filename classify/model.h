// The trained model behind one engine handle: the back-propagation network that names glyphs,
// the input vector that feeds it, and the two statistics tables.
//
// The network is read from its stream and compiled for the forward pass (neural/compiled.h);
// the model keeps nothing else of it. A forward pass of another make (the object graph of the
// training library, say) may be put in its place to check the compiled one against it.
#ifndef OCRB_CLASSIFY_MODEL_H_
#define OCRB_CLASSIFY_MODEL_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "classify/glyph.h"
#include "image/dib.h"
#include "neural/compiled.h"
#include "platform/stream.h"

namespace ocrb {

constexpr int kTemplateClassSlots = 16;
constexpr int kGridCells = 256;
constexpr int32_t kPatternInputs = 256;
constexpr int32_t kPatternOutputs = 15;

// Six 16-bin ink profiles of one class and a spare value that nothing fills.
struct TClassProfile {
  double Profiles[6][16];
  double Spare;
};

// How the model runs its compiled network: with the best kernels the processor has, or with
// the portable kernels.
enum class TForwardMode { kCompiled, kCompiledPortable };

// A forward pass run instead of the compiled network, over the same stored network.
class TReferencePass {
 public:
  virtual ~TReferencePass() = default;
  // One pass on Inputs; then Output(0 .. outputs - 1) are the outputs. Raises on a network
  // with fewer inputs than Inputs holds.
  virtual void Run(const TGlyphInputs& inputs) = 0;
  // Raises unless Index names an output unit.
  virtual double Output(int32_t index) const = 0;
};

class TModel {
 public:
  // Inputs all 0.0; no network yet, tables zero.
  TModel() = default;
  TModel(const TModel&) = delete;
  TModel& operator=(const TModel&) = delete;

  // Loads a network stream, refusing (raising) exactly what TBackpropNetwork::LoadFromStream
  // refuses, and compiles it. The bytes are not copied: they must outlive the model (the
  // library's resources do).
  void LoadNetwork(const uint8_t* data, size_t size);
  // The same for the rest of Stream, whose bytes the model keeps.
  void LoadNetwork(TStream& stream);
  bool HasNetwork() const { return stream_data_ != nullptr; }
  // The bytes of the stream the network was loaded from (null and 0 before a load), for a
  // reference pass to be built from.
  const uint8_t* NetworkData() const { return stream_data_; }
  size_t NetworkSize() const { return stream_size_; }

  // The network's input vector: ClassifyGlyph writes the glyph's 256 cells here.
  TGlyphInputs& Inputs() { return inputs_; }
  // The classifier's working image, kept for its block from one glyph to the next.
  TDIB& GlyphImage() { return glyph_image_; }

  // One forward pass on Inputs; then Output(0..14) are the outputs. Requires a network with at
  // least 256 inputs and 15 outputs (raising the assertion failure otherwise).
  void Run();
  double Output(int32_t index) const;

  void SetForwardMode(TForwardMode mode) { mode_ = mode; }
  TForwardMode ForwardMode() const { return mode_; }
  // Runs Pass instead of the compiled network until the next load (null: the compiled one
  // again).
  void SetReferencePass(std::unique_ptr<TReferencePass> pass) { reference_ = std::move(pass); }

  TClassProfile ClassProfiles[kTemplateClassSlots] = {};
  // [plane: 0 ink, 1 paper][class slot][grid cell]
  int32_t TemplateCounts[2][kTemplateClassSlots][kGridCells] = {};

 private:
  TGlyphInputs inputs_ = {};
  TDIB glyph_image_;
  std::vector<uint8_t> owned_stream_;     // a stream read from a TStream
  const uint8_t* stream_data_ = nullptr;  // the stream the network was loaded from, if any
  size_t stream_size_ = 0;
  TCompiledNetwork compiled_;
  TForwardMode mode_ = TForwardMode::kCompiled;
  std::unique_ptr<TReferencePass> reference_;
};

}  // namespace ocrb

#endif  // OCRB_CLASSIFY_MODEL_H_
