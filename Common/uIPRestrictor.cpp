#include "Common/uIPRestrictor.h"

namespace {
constexpr int32_t RecordVersion = 0;
constexpr size_t LegacyPad = 35;
}  // namespace

void TIPRestrictor::LoadFromStream(StreamReader& s) {
  const int32_t r = s.ReadRecordVersion();
  Mode = s.ReadByte();
  s.ReadStringList(IPNumbers);
  RequestDeniedAction = s.ReadByte();
  FileName = s.ReadString();
  if (r == -1) s.Skip(LegacyPad);
}

void TIPRestrictor::SaveToStream(StreamWriter& s) const {
  s.WriteInteger(RecordVersion);
  s.WriteByte(Mode);
  s.WriteStringList(IPNumbers);
  s.WriteByte(RequestDeniedAction);
  s.WriteString(FileName);
}
