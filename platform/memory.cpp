// Movable memory off Windows. A handle is not an address: it encodes a serial number that
// is never reused, looked up in a registry of live blocks under a mutex. A freed, foreign or
// forged handle therefore finds nothing and is refused, instead of reaching freed memory.
// The data of a block stays at one address while it is locked; GlobalReAlloc refuses a
// locked block rather than move memory that someone may be holding a pointer into.
#include "platform/memory.h"

#include "platform/error.h"

#ifdef _WIN32
#include <windows.h>

namespace ocrb::platform {

HGlobal GlobalAlloc(uint32_t flags, size_t bytes) {
  return ::GlobalAlloc(flags, bytes);
}
void* GlobalLock(HGlobal mem) {
  return ::GlobalLock(mem);
}
bool GlobalUnlock(HGlobal mem) {
  return ::GlobalUnlock(mem) != 0;
}
HGlobal GlobalReAlloc(HGlobal mem, size_t bytes, uint32_t flags) {
  return ::GlobalReAlloc(mem, bytes, flags);
}
size_t GlobalSize(HGlobal mem) {
  return ::GlobalSize(mem);
}
HGlobal GlobalFree(HGlobal mem) {
  return ::GlobalFree(mem);
}

}  // namespace ocrb::platform

#else

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_map>

namespace ocrb::platform {
namespace {

struct Block {
  unsigned char* data = nullptr;  // malloc'd; nullptr for an empty block
  size_t size = 0;
  uint32_t locks = 0;
};

// Handles are serial * kHandleStride + kHandleTag: never null, never a plausible aligned data
// address, and never repeated within a process.
constexpr uintptr_t kHandleStride = 16;
constexpr uintptr_t kHandleTag = 8;

class Registry {
 public:
  std::mutex mutex;
  std::unordered_map<uintptr_t, Block> blocks;
  uintptr_t next_serial = 1;

  // The live block of a handle, or nullptr (last error set). Call with mutex held.
  Block* Find(HGlobal mem) {
    auto it = blocks.find(reinterpret_cast<uintptr_t>(mem));
    if (it == blocks.end()) {
      SetLastError(kErrorInvalidHandle);
      return nullptr;
    }
    return &it->second;
  }
};

Registry& TheRegistry() {
  // Never destroyed, so handles stay usable from static destructors of other units.
  static Registry* registry = new Registry;
  return *registry;
}

}  // namespace

HGlobal GlobalAlloc(uint32_t flags, size_t bytes) {
  if (bytes > kMaxBlockBytes) {
    SetLastError(kErrorNotEnoughMemory);
    return nullptr;
  }
  Block block;
  if (bytes > 0) {
    block.data = static_cast<unsigned char*>((flags & kGMemZeroInit) ? std::calloc(bytes, 1)
                                                                     : std::malloc(bytes));
    if (block.data == nullptr) {
      SetLastError(kErrorNotEnoughMemory);
      return nullptr;
    }
    block.size = bytes;
  }
  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> guard(registry.mutex);
  uintptr_t key = registry.next_serial++ * kHandleStride + kHandleTag;
  registry.blocks.emplace(key, block);
  return reinterpret_cast<HGlobal>(key);
}

void* GlobalLock(HGlobal mem) {
  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> guard(registry.mutex);
  Block* block = registry.Find(mem);
  if (block == nullptr) return nullptr;
  if (block->data == nullptr) {
    // An empty block has no address to give, as a discarded block on Windows.
    SetLastError(kErrorNotLocked);
    return nullptr;
  }
  ++block->locks;
  return block->data;
}

bool GlobalUnlock(HGlobal mem) {
  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> guard(registry.mutex);
  Block* block = registry.Find(mem);
  if (block == nullptr) return false;
  if (block->locks == 0) {
    SetLastError(kErrorNotLocked);
    return false;
  }
  if (--block->locks > 0) return true;
  SetLastError(kErrorSuccess);
  return false;
}

HGlobal GlobalReAlloc(HGlobal mem, size_t bytes, uint32_t flags) {
  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> guard(registry.mutex);
  Block* block = registry.Find(mem);
  if (block == nullptr) return nullptr;
  if (flags & kGMemModify) return mem;
  if (block->locks > 0 || bytes > kMaxBlockBytes) {
    SetLastError(kErrorNotEnoughMemory);
    return nullptr;
  }
  if (bytes == 0) {
    std::free(block->data);
    block->data = nullptr;
    block->size = 0;
    return mem;
  }
  auto* data = static_cast<unsigned char*>(std::realloc(block->data, bytes));
  if (data == nullptr) {
    SetLastError(kErrorNotEnoughMemory);
    return nullptr;
  }
  if ((flags & kGMemZeroInit) && bytes > block->size)
    std::memset(data + block->size, 0, bytes - block->size);
  block->data = data;
  block->size = bytes;
  return mem;
}

size_t GlobalSize(HGlobal mem) {
  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> guard(registry.mutex);
  Block* block = registry.Find(mem);
  return block == nullptr ? 0 : block->size;
}

HGlobal GlobalFree(HGlobal mem) {
  unsigned char* data = nullptr;
  {
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> guard(registry.mutex);
    auto it = registry.blocks.find(reinterpret_cast<uintptr_t>(mem));
    if (it == registry.blocks.end()) {
      SetLastError(kErrorInvalidHandle);
      return mem;
    }
    data = it->second.data;
    registry.blocks.erase(it);
  }
  std::free(data);
  return nullptr;
}

}  // namespace ocrb::platform

#endif
