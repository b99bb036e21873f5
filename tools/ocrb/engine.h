// One recognition engine handle and the results of reading one page with it.
#ifndef OCRB_TOOLS_OCRB_ENGINE_H_
#define OCRB_TOOLS_OCRB_ENGINE_H_

#include <array>
#include <string>
#include <vector>

#include "image.h"
#include "ocrb.h"

namespace ocrb::cli {

// The engine's thirteen parameters, by OCRB_PARAM_ id.
struct Parameters {
  static constexpr int kCount = 13;
  std::array<int32_t, kCount + 1> Values{};  // index 0 unused
  Parameters();
  int32_t& operator[](int id) { return Values[static_cast<size_t>(id)]; }
  int32_t operator[](int id) const { return Values[static_cast<size_t>(id)]; }
};

struct TextLine {
  std::string Text;
  std::vector<float> Confidences;
  std::vector<TRect> Boxes;
};

struct PageResult {
  int Width = 0;
  int Height = 0;
  int XDpi = 0;
  int YDpi = 0;
  std::vector<TextLine> Lines;
};

// Owns one engine handle; one per thread.
class Engine {
 public:
  // Throws InputError(kExitInternal) when the engine cannot start or refuses a parameter.
  explicit Engine(const Parameters& parameters);
  ~Engine();
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  // Reads one page. Throws InputError(kExitCorrupt) when the engine refuses the bitmap.
  PageResult Read(const Page& page, bool single_line);

 private:
  OCRB_HANDLE handle_ = nullptr;
};

}  // namespace ocrb::cli

#endif  // OCRB_TOOLS_OCRB_ENGINE_H_
