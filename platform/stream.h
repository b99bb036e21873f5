// Byte streams: the network library stores and loads through these, and the model
// resources are read as streams. Read and Write move up to Count bytes and return how many
// moved; ReadBuffer and WriteBuffer insist on all of them and raise "Stream read error" or
// "Stream write error" otherwise.
#ifndef OCRB_PLATFORM_STREAM_H_
#define OCRB_PLATFORM_STREAM_H_

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace ocrb {

class TStream {
 public:
  virtual ~TStream() = default;
  virtual int64_t Read(void* buffer, int64_t count) = 0;
  virtual int64_t Write(const void* buffer, int64_t count) = 0;
  virtual int64_t Size() const = 0;
  virtual int64_t Position() const = 0;
  // Moves to an absolute position, clamped to 0..Size for reading streams.
  virtual void Seek(int64_t position) = 0;

  void ReadBuffer(void* buffer, int64_t count);
  void WriteBuffer(const void* buffer, int64_t count);
  int64_t Remaining() const { return Size() - Position(); }
};

// A growable stream in memory, owning its bytes.
class TMemoryStream : public TStream {
 public:
  TMemoryStream() = default;
  explicit TMemoryStream(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}
  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Size() const override { return static_cast<int64_t>(bytes_.size()); }
  int64_t Position() const override { return position_; }
  void Seek(int64_t position) override;
  const std::vector<uint8_t>& Bytes() const { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
  int64_t position_ = 0;
};

// A read-only stream over bytes someone else owns (an embedded resource); they must outlive
// the stream. Write moves nothing.
class TReadOnlyMemoryStream : public TStream {
 public:
  TReadOnlyMemoryStream(const uint8_t* data, int64_t size) : data_(data), size_(size) {}
  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void*, int64_t) override { return 0; }
  int64_t Size() const override { return size_; }
  int64_t Position() const override { return position_; }
  void Seek(int64_t position) override;

 private:
  const uint8_t* data_;
  int64_t size_;
  int64_t position_ = 0;
};

// A file opened for reading (fmOpenRead) or created for writing (fmCreate). Opening raises
// "Cannot open file \"NAME\"" or "Cannot create file \"NAME\"".
class TFileStream : public TStream {
 public:
  enum class Mode { fmOpenRead, fmCreate };
  TFileStream(const std::string& file_name, Mode mode);
  ~TFileStream() override;
  TFileStream(const TFileStream&) = delete;
  TFileStream& operator=(const TFileStream&) = delete;
  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Size() const override;
  int64_t Position() const override;
  void Seek(int64_t position) override;

 private:
  std::FILE* file_ = nullptr;
  Mode mode_;
};

}  // namespace ocrb

#endif  // OCRB_PLATFORM_STREAM_H_
