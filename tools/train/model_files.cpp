#include "tools/train/model_files.h"

#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "classify/classifier.h"
#include "neural/backprop.h"
#include "neural/base.h"
#include "neural/pattern.h"
#include "platform/stream.h"

namespace ocrb::train {
namespace {

constexpr double kLearningRate = 0.45;
constexpr double kMomentum = 0.9;

void PutDouble(std::vector<uint8_t>& bytes, size_t offset, double value) {
  std::memcpy(&bytes[offset], &value, 8);
}

}  // namespace

std::vector<uint8_t> NetworkStream(const DenseNet& net, const std::array<uint8_t, 256>& inputs) {
  const int in = kInputs, hidden = net.Hidden(), out = net.Outputs();
  const std::vector<int32_t> sizes{in, hidden, out};
  // A network with the stored shape and fresh identifiers; its random weights are then
  // replaced in the stream, because stored weights may lie outside the -1..1 that the link
  // setters accept.
  ResetIDCounters();
  SeedRandomWeights(kDefaultRandomSeed);
  TBackpropNetwork shape(3, kLearningRate, kMomentum, sizes);
  TMemoryStream first;
  shape.SaveToStream(first);
  std::vector<uint8_t> bytes = first.Bytes();

  // Header 4 + 4 + 4 * 3 + 4 + 4, input records 28 bytes, unit records 44 bytes, then link
  // records of ID (4) and weight (8) in table order: inputs to hidden destination-major,
  // then hidden to outputs.
  const size_t links = 28 + size_t(in) * 28 + size_t(hidden + out) * 44;
  size_t k = 0;
  for (int t = 0; t < hidden; ++t) {
    for (int s = 0; s < in; ++s, ++k) PutDouble(bytes, links + 12 * k + 4, net.W1(t, s));
  }
  for (int t = 0; t < out; ++t) {
    for (int s = 0; s < hidden; ++s, ++k) PutDouble(bytes, links + 12 * k + 4, net.W2(t, s));
  }
  if (links + 12 * k != bytes.size()) throw std::logic_error("network stream layout mismatch");

  // Load it back, run one pattern so that the units hold consistent outputs, and store.
  TBackpropNetwork trained(3, kLearningRate, kMomentum, sizes);
  TReadOnlyMemoryStream source(bytes.data(), static_cast<int64_t>(bytes.size()));
  trained.LoadFromStream(source);
  TPattern pattern(in, out);
  for (int i = 0; i < in; ++i) pattern.SetInput(i, inputs[i] ? 1.0 : 0.0);
  trained.SetInputs(pattern);
  trained.Run();
  TMemoryStream final_stream;
  trained.SaveToStream(final_stream);
  return final_stream.Bytes();
}

std::vector<uint8_t> TemplateCountsBytes(const std::vector<const GlyphView*>& views) {
  std::vector<int32_t> counts(2 * 16 * 256, 0);
  std::vector<int32_t> glyphs(16, 0);
  for (const GlyphView* view : views) {
    ++glyphs[view->Class];
    for (int n = 0; n < 256; ++n) counts[(0 * 16 + view->Class) * 256 + n] += view->Grid.Cells[n];
  }
  for (int k = 0; k < kClassCount; ++k) {
    for (int n = 0; n < 256; ++n)
      counts[(1 * 16 + k) * 256 + n] = glyphs[k] - counts[(0 * 16 + k) * 256 + n];
  }
  std::vector<uint8_t> bytes(counts.size() * 4);
  std::memcpy(bytes.data(), counts.data(), bytes.size());
  return bytes;
}

std::vector<uint8_t> ClassProfilesBytes(const std::vector<const GlyphView*>& views) {
  // profile[class][p][bin], p = 0..5 for profiles 1..6
  std::vector<double> sums(15 * 6 * 16, 0);
  std::vector<int> glyphs(15, 0);
  auto cell = [](const GlyphView& v, int gx, int gy) { return v.Grid.Cells[gx * 16 + gy] != 0; };
  for (const GlyphView* view : views) {
    const int c = view->Class;
    ++glyphs[c];
    double* p = &sums[c * 96];
    for (int gy = 0; gy < 16; ++gy) {
      int first = -1, last = -1;
      for (int gx = 0; gx < 16; ++gx) {
        if (!cell(*view, gx, gy)) continue;
        p[0 * 16 + gy] += 1.0 / 256;
        p[1 * 16 + gx] += 1.0 / 256;
        if (first < 0) first = gx;
        last = gx;
      }
      p[2 * 16 + (first < 0 ? 0 : std::min(first + 1, 15))] += 1.0 / 256;
      p[3 * 16 + (last < 0 ? 0 : std::min(15 - last + 1, 15))] += 1.0 / 256;
    }
    for (int gx = 0; gx < 16; ++gx) {
      int first = -1, last = -1;
      for (int gy = 0; gy < 16; ++gy) {
        if (!cell(*view, gx, gy)) continue;
        if (first < 0) first = gy;
        last = gy;
      }
      p[4 * 16 + (first < 0 ? 0 : std::min(first + 1, 15))] += 1.0 / 256;
      p[5 * 16 + (last < 0 ? 0 : std::min(15 - last + 1, 15))] += 1.0 / 256;
    }
  }
  // Stored per class and bin as values 1, 2, 3, 4, then profile 6, then profile 5.
  constexpr int kProfileOfValue[6] = {0, 1, 2, 3, 5, 4};
  std::vector<uint8_t> bytes;
  bytes.reserve(15 * 16 * 6 * 8);
  for (int c = 0; c < 15; ++c) {
    for (int b = 0; b < 16; ++b) {
      for (int v = 0; v < 6; ++v) {
        const double value =
            glyphs[c] > 0 ? sums[c * 96 + kProfileOfValue[v] * 16 + b] / glyphs[c] : 0.0;
        uint8_t raw[8];
        std::memcpy(raw, &value, 8);
        bytes.insert(bytes.end(), raw, raw + 8);
      }
    }
  }
  return bytes;
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream file(path, std::ios::binary);
  file.write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  if (!file) throw std::runtime_error("cannot write " + path);
}

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) throw std::runtime_error("cannot read " + path);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(file)),
                              std::istreambuf_iterator<char>());
}

}  // namespace ocrb::train
