// A C++ program found through find_package(ocrb CONFIG): reads a 1-bit BMP with the engine
// and prints its lines, exactly as ocrb prints them.
#include <ocrb.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace {

struct Engine {
  OCRB_HANDLE handle = nullptr;
  ~Engine() {
    if (handle != nullptr) OCRB_Done(handle);
  }
};

struct Block {
  OCRB_HGLOBAL handle = nullptr;
  ~Block() {
    if (handle != nullptr) OCRB_GlobalFree(handle);
  }
};

}  // namespace

int main(int argc, char** argv) {
  constexpr size_t kFileHeaderBytes = 14;  // in front of the packed DIB
  if (argc != 2) return 2;
  std::ifstream file(argv[1], std::ios::binary);
  const std::vector<char> bytes{std::istreambuf_iterator<char>(file),
                                std::istreambuf_iterator<char>()};
  if (bytes.size() <= kFileHeaderBytes) return 1;
  Block dib;
  dib.handle = OCRB_GlobalAlloc(OCRB_GMEM_MOVEABLE, bytes.size() - kFileHeaderBytes);
  void* data = dib.handle != nullptr ? OCRB_GlobalLock(dib.handle) : nullptr;
  if (data == nullptr) return 1;
  std::memcpy(data, bytes.data() + kFileHeaderBytes, bytes.size() - kFileHeaderBytes);
  OCRB_GlobalUnlock(dib.handle);

  Engine engine;
  if (OCRB_Init("", "", &engine.handle) != OCRB_STATUS_OK) return 1;
  if (OCRB_Read(engine.handle, dib.handle, 0) != OCRB_STATUS_OK) return 1;
  int32_t count = 0;
  OCRB_ResultLinesCount(engine.handle, &count);
  for (int32_t line = 0; line < count; ++line) {
    std::string text(OCRB_MAX_LINE_LENGTH + 1, '\0');
    if (OCRB_ResultLineChars(engine.handle, line, text.data()) != OCRB_STATUS_OK) return 1;
    std::printf("%s\n", text.c_str());
  }
  return 0;
}
