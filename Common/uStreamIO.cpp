#include "Common/uStreamIO.h"

#include <cstring>

void StreamWriter::WriteBytes(const void* data, size_t n) {
  const auto* p = static_cast<const uint8_t*>(data);
  bytes_.insert(bytes_.end(), p, p + n);
}

void StreamWriter::WriteByte(uint8_t v) { bytes_.push_back(v); }

void StreamWriter::WriteWord(uint16_t v) {
  uint8_t b[2] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)};
  WriteBytes(b, 2);
}

void StreamWriter::WriteInteger(int32_t v) {
  const auto u = static_cast<uint32_t>(v);
  uint8_t b[4] = {static_cast<uint8_t>(u), static_cast<uint8_t>(u >> 8), static_cast<uint8_t>(u >> 16),
                  static_cast<uint8_t>(u >> 24)};
  WriteBytes(b, 4);
}

void StreamWriter::WriteInt64(int64_t v) {
  const auto u = static_cast<uint64_t>(v);
  WriteInteger(static_cast<int32_t>(static_cast<uint32_t>(u)));
  WriteInteger(static_cast<int32_t>(static_cast<uint32_t>(u >> 32)));
}

void StreamWriter::WriteSingle(float v) {
  uint32_t u;
  std::memcpy(&u, &v, 4);
  WriteInteger(static_cast<int32_t>(u));
}

void StreamWriter::WriteString(std::string_view s) {
  WriteInteger(CheckedToInt32(static_cast<int64_t>(s.size())));
  WriteBytes(s.data(), s.size());
}

void StreamWriter::WriteStringList(const TStringList& list) { WriteString(list.Text()); }

void StreamWriter::WritePadding(size_t n) { bytes_.insert(bytes_.end(), n, 0); }

void StreamReader::Need(size_t n) const {
  if (n > size_ - pos_) throw EReadError();
}

void StreamReader::ReadBytes(void* out, size_t n) {
  Need(n);
  if (n) std::memcpy(out, data_ + pos_, n);
  pos_ += n;
}

uint8_t StreamReader::ReadByte() {
  Need(1);
  return data_[pos_++];
}

uint16_t StreamReader::ReadWord() {
  Need(2);
  const uint16_t v = static_cast<uint16_t>(data_[pos_] | (data_[pos_ + 1] << 8));
  pos_ += 2;
  return v;
}

int32_t StreamReader::ReadInteger() {
  Need(4);
  const uint32_t u = static_cast<uint32_t>(data_[pos_]) | (static_cast<uint32_t>(data_[pos_ + 1]) << 8) |
                     (static_cast<uint32_t>(data_[pos_ + 2]) << 16) | (static_cast<uint32_t>(data_[pos_ + 3]) << 24);
  pos_ += 4;
  return static_cast<int32_t>(u);
}

int64_t StreamReader::ReadInt64() {
  const uint64_t lo = static_cast<uint32_t>(ReadInteger());
  const uint64_t hi = static_cast<uint32_t>(ReadInteger());
  return static_cast<int64_t>(lo | (hi << 32));
}

float StreamReader::ReadSingle() {
  const auto u = static_cast<uint32_t>(ReadInteger());
  float v;
  std::memcpy(&v, &u, 4);
  return v;
}

std::string StreamReader::ReadString() {
  const int32_t n = ReadInteger();
  if (n < 0) throw EReadError();
  Need(static_cast<size_t>(n));
  std::string s(reinterpret_cast<const char*>(data_ + pos_), static_cast<size_t>(n));
  pos_ += static_cast<size_t>(n);
  return s;
}

void StreamReader::ReadStringList(TStringList& list) { list.SetText(ReadString()); }

void StreamReader::Skip(size_t n) {
  Need(n);
  pos_ += n;
}

int32_t StreamReader::ReadCount(size_t minRecordBytes) {
  const int32_t n = ReadInteger();
  if (n < 0) throw EReadError();
  if (minRecordBytes > 0 && static_cast<size_t>(n) > Remaining() / minRecordBytes) throw EReadError();
  return n;
}
