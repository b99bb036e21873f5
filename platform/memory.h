// Movable memory blocks with the semantics of the Windows global memory functions. Every
// TDIB keeps its pixels in such a block, and callers hand their bitmaps over in one. On
// Windows these are the system's functions; elsewhere this seam implements them, keeping a
// registry of live blocks so that a freed or foreign handle is detected and refused instead
// of being dereferenced. Failures set the calling thread's last error (platform/error.h).
#ifndef OCRB_PLATFORM_MEMORY_H_
#define OCRB_PLATFORM_MEMORY_H_

#include <cstddef>
#include <cstdint>

namespace ocrb::platform {

using HGlobal = void*;

constexpr uint32_t kGMemMoveable = 0x0002;  // every block here is movable
constexpr uint32_t kGMemZeroInit = 0x0040;  // bytes added by the call are zero
constexpr uint32_t kGMemModify = 0x0080;    // GlobalReAlloc changes flags only

// Off Windows a single block may not exceed this many bytes: beyond it an allocation is
// refused with kErrorNotEnoughMemory rather than left to exhaust the machine. A 32-bit
// address space holds no block of 1 TiB, so there the bound is half of it.
constexpr size_t kMaxBlockBytes =
    sizeof(size_t) >= 8 ? static_cast<size_t>(uint64_t{1} << 40) : SIZE_MAX / 2;

// A new block of Bytes bytes (0 allowed), or nullptr. The caller owns it (GlobalFree).
HGlobal GlobalAlloc(uint32_t flags, size_t bytes);
// The block's address, valid until the matching GlobalUnlock; nullptr for an invalid handle
// or an empty block. Locks nest.
void* GlobalLock(HGlobal mem);
// Undoes one lock: true while the block stays locked, false once unlocked (last error 0) or
// when it was not locked or the handle is invalid (last error set).
bool GlobalUnlock(HGlobal mem);
// Resizes an unlocked block in place of its handle and returns the handle; nullptr leaves the
// block as it was. With kGMemZeroInit the bytes added are zero.
HGlobal GlobalReAlloc(HGlobal mem, size_t bytes, uint32_t flags);
// Bytes in the block; 0 for an invalid handle.
size_t GlobalSize(HGlobal mem);
// Frees the block, locked or not: nullptr on success, mem itself for an invalid handle.
HGlobal GlobalFree(HGlobal mem);

// Owns one movable block and frees it on destruction with Free: GlobalFree inside the
// library, the exported OCRB_GlobalFree in code that reaches the engine through its C
// interface (the reader, which names its own kind).
template <HGlobal (*Free)(HGlobal)>
class TOwnedBlock {
 public:
  TOwnedBlock() = default;
  explicit TOwnedBlock(HGlobal mem) : mem_(mem) {}
  TOwnedBlock(const TOwnedBlock&) = delete;
  TOwnedBlock& operator=(const TOwnedBlock&) = delete;
  TOwnedBlock(TOwnedBlock&& other) noexcept : mem_(other.Release()) {}
  TOwnedBlock& operator=(TOwnedBlock&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  ~TOwnedBlock() { Reset(); }

  HGlobal Get() const { return mem_; }
  HGlobal Release() {
    HGlobal mem = mem_;
    mem_ = nullptr;
    return mem;
  }
  void Reset(HGlobal mem = nullptr) {
    if (mem_ != nullptr) Free(mem_);
    mem_ = mem;
  }

 private:
  HGlobal mem_ = nullptr;
};

using GlobalBlock = TOwnedBlock<&GlobalFree>;

}  // namespace ocrb::platform

#endif  // OCRB_PLATFORM_MEMORY_H_
