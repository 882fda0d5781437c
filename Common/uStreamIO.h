// Little-endian record primitives of the settings and affinity files.
// StreamWriter appends to a byte buffer; StreamReader reads a bounded buffer
// and raises EReadError ("Stream read error") on any read past its end.
// The legacy flag belongs to one reader, so concurrent loads never see each
// other's file version.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Classes.h"
#include "platform/SysUtils.h"

class StreamWriter {
 public:
  void WriteByte(uint8_t v);
  void WriteBoolean(bool v) { WriteByte(v ? 1 : 0); }
  void WriteWord(uint16_t v);
  void WriteInteger(int32_t v);
  void WriteInt64(int64_t v);
  void WriteSingle(float v);
  void WriteString(std::string_view s);           // Int32 length, then the bytes
  void WriteStringList(const TStringList& list);  // its Text as a String
  void WritePadding(size_t n);                    // n zero bytes
  void WriteBytes(const void* data, size_t n);

  const std::vector<uint8_t>& Bytes() const { return bytes_; }
  std::vector<uint8_t> TakeBytes() { return std::move(bytes_); }
  size_t Size() const { return bytes_.size(); }

 private:
  std::vector<uint8_t> bytes_;
};

class StreamReader {
 public:
  StreamReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  explicit StreamReader(const std::vector<uint8_t>& bytes) : StreamReader(bytes.data(), bytes.size()) {}

  uint8_t ReadByte();
  bool ReadBoolean() { return ReadByte() != 0; }
  uint16_t ReadWord();
  int32_t ReadInteger();
  int64_t ReadInt64();
  float ReadSingle();
  // A stored length that is negative or runs past the end raises EReadError
  // before anything is allocated.
  std::string ReadString();
  void ReadStringList(TStringList& list);
  void Skip(size_t n);
  void ReadBytes(void* out, size_t n);
  // -1 without reading while a legacy file is read, else an Int32.
  int32_t ReadRecordVersion() { return legacy_ ? -1 : ReadInteger(); }
  // A stored count must be 0..Remaining()/MinRecordBytes, else EReadError.
  int32_t ReadCount(size_t minRecordBytes);

  bool Legacy() const { return legacy_; }
  void SetLegacy(bool legacy) { legacy_ = legacy; }
  size_t Position() const { return pos_; }
  size_t Size() const { return size_; }
  size_t Remaining() const { return size_ - pos_; }

 private:
  void Need(size_t n) const;
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
  bool legacy_ = false;
};
