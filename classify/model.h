// The trained model behind one engine handle: the back-propagation network that names glyphs,
// the pattern that feeds it, and the two statistics tables.
//
// The network lives in two forms. Reading uses a compiled copy (neural/compiled.h), made when
// the network is loaded and made again whenever the network changes. The object graph
// (TBackpropNetwork), the form the trainer and the stream format speak, is built only when
// someone asks for it: from the stored stream after a load, or handed in whole. A network the
// compiler cannot take (an unusual wiring, a weight that is not finite) is run through its
// object graph instead, with the same results.
#ifndef OCRB_CLASSIFY_MODEL_H_
#define OCRB_CLASSIFY_MODEL_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "image/dib.h"
#include "neural/backprop.h"
#include "neural/compiled.h"
#include "neural/pattern.h"
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

// How the model runs its network: the compiled copy with the best kernels the processor
// has, the compiled copy with the portable kernels, or always the object graph (the plain
// reference the fast forms are checked against).
enum class TForwardMode { kCompiled, kCompiledPortable, kObjectGraph };

class TModel {
 public:
  // A pattern of 256 inputs and 15 outputs; no network yet, tables zero.
  TModel();
  TModel(const TModel&) = delete;
  TModel& operator=(const TModel&) = delete;

  // Loads a network stream, refusing (raising) exactly what TBackpropNetwork::LoadFromStream
  // refuses, and compiles it. The bytes are not copied: they must outlive the model (the
  // library's resources do). The object graph is not built.
  void LoadNetwork(const uint8_t* data, size_t size);
  // The same for the rest of Stream, whose bytes the model keeps.
  void LoadNetwork(TStream& stream);
  // Takes Network over whole and compiles it.
  void SetNetwork(std::unique_ptr<TBackpropNetwork> network);
  bool HasNetwork() const { return graph_ != nullptr || stream_data_ != nullptr; }

  // The object graph, built from the stored stream on first use. Changes made through it are
  // seen by the next forward pass. Raises when no network is loaded.
  TBackpropNetwork& Network();

  // The network's input vector: ClassifyGlyph writes the glyph's 256 cells here.
  TPattern& Pattern() { return *pattern_; }
  // The classifier's working image, kept for its block from one glyph to the next.
  TDIB& GlyphImage() { return glyph_image_; }

  // One forward pass on Pattern's inputs; then Output(0..14) are the outputs. Requires a
  // network with at least as many inputs as the pattern and at least 15 outputs (raising
  // the assertion failure otherwise, as the object graph does).
  void Run();
  double Output(int32_t index) const;

  void SetForwardMode(TForwardMode mode) { mode_ = mode; }
  TForwardMode ForwardMode() const { return mode_; }
  // Whether forward passes use the compiled copy (false: the network is run as an object
  // graph, by choice or because it could not be compiled).
  bool Compiled();

  TClassProfile ClassProfiles[kTemplateClassSlots] = {};
  // [plane: 0 ink, 1 paper][class slot][grid cell]
  int32_t TemplateCounts[2][kTemplateClassSlots][kGridCells] = {};

 private:
  // Brings the compiled copy up to date with the object graph when the graph has changed.
  void Refresh();

  std::unique_ptr<TPattern> pattern_;
  TDIB glyph_image_;
  std::unique_ptr<TBackpropNetwork> graph_;  // built on first use, or handed in
  std::vector<uint8_t> owned_stream_;        // a stream read from a TStream
  const uint8_t* stream_data_ = nullptr;     // the stream the network was loaded from, if any
  size_t stream_size_ = 0;
  TCompiledNetwork compiled_;
  bool compiled_ok_ = false;
  uint64_t compiled_at_ = 0;  // NetworkEditCount() when the copy last matched the graph
  TForwardMode mode_ = TForwardMode::kCompiled;
  bool graph_ran_ = false;  // the last pass ran the object graph
};

}  // namespace ocrb

#endif  // OCRB_CLASSIFY_MODEL_H_
