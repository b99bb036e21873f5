#include "platform/stream.h"

#include <algorithm>
#include <cstring>

#include "platform/error.h"

namespace ocrb {

void TStream::ReadBuffer(void* buffer, int64_t count) {
  if (count < 0 || (count > 0 && Read(buffer, count) != count)) throw Error("Stream read error");
}

void TStream::WriteBuffer(const void* buffer, int64_t count) {
  if (count < 0 || (count > 0 && Write(buffer, count) != count)) throw Error("Stream write error");
}

int64_t TMemoryStream::Read(void* buffer, int64_t count) {
  const int64_t n = std::clamp<int64_t>(Size() - position_, 0, std::max<int64_t>(count, 0));
  if (n > 0) std::memcpy(buffer, bytes_.data() + position_, static_cast<size_t>(n));
  position_ += n;
  return n;
}

int64_t TMemoryStream::Write(const void* buffer, int64_t count) {
  if (count <= 0) return 0;
  const auto end = static_cast<size_t>(position_ + count);
  if (end > bytes_.size()) bytes_.resize(end);
  std::memcpy(bytes_.data() + position_, buffer, static_cast<size_t>(count));
  position_ += count;
  return count;
}

void TMemoryStream::Seek(int64_t position) {
  position_ = std::clamp<int64_t>(position, 0, Size());
}

int64_t TReadOnlyMemoryStream::Read(void* buffer, int64_t count) {
  const int64_t n = std::clamp<int64_t>(size_ - position_, 0, std::max<int64_t>(count, 0));
  if (n > 0) std::memcpy(buffer, data_ + position_, static_cast<size_t>(n));
  position_ += n;
  return n;
}

void TReadOnlyMemoryStream::Seek(int64_t position) {
  position_ = std::clamp<int64_t>(position, 0, size_);
}

TFileStream::TFileStream(const std::string& file_name, Mode mode) : mode_(mode) {
  file_ = std::fopen(file_name.c_str(), mode == Mode::fmOpenRead ? "rb" : "wb");
  if (file_ == nullptr) {
    throw Error(
        std::string(mode == Mode::fmOpenRead ? "Cannot open file \"" : "Cannot create file \"") +
        file_name + "\"");
  }
}

TFileStream::~TFileStream() {
  if (file_ != nullptr) std::fclose(file_);
}

int64_t TFileStream::Read(void* buffer, int64_t count) {
  if (count <= 0 || mode_ != Mode::fmOpenRead) return 0;
  return static_cast<int64_t>(std::fread(buffer, 1, static_cast<size_t>(count), file_));
}

int64_t TFileStream::Write(const void* buffer, int64_t count) {
  if (count <= 0 || mode_ != Mode::fmCreate) return 0;
  return static_cast<int64_t>(std::fwrite(buffer, 1, static_cast<size_t>(count), file_));
}

int64_t TFileStream::Size() const {
  const long here = std::ftell(file_);
  std::fseek(file_, 0, SEEK_END);
  const long end = std::ftell(file_);
  std::fseek(file_, here, SEEK_SET);
  return end;
}

int64_t TFileStream::Position() const {
  return std::ftell(file_);
}

void TFileStream::Seek(int64_t position) {
  std::fseek(file_, static_cast<long>(std::max<int64_t>(position, 0)), SEEK_SET);
}

}  // namespace ocrb
