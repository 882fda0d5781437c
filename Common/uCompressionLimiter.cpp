#include "Common/uCompressionLimiter.h"

#include "platform/SysUtils.h"

namespace {
constexpr int32_t RecordVersion = 0;
constexpr size_t LegacyPad = 25;

void SortAndLowerCase(TStringList& list) {
  list.Sort();
  for (int i = 0; i < list.Count(); ++i) list.Put(i, LowerCase(list[i]));
}
}  // namespace

TCompressionLimiter::TCompressionLimiter() {
  SetDefaultExtensions();
  SetDefaultMimeTypes();
}

void TCompressionLimiter::SetDefaultExtensions() {
  ExtToCompress.Clear();
  for (const char* ext : {".htm", ".html", ".jsp", ".js", ".css", ".asp", ".aspx", ".xml", ".txt", ".doc", ".xls",
                          ".dhtml"})
    ExtToCompress.Add(ext);
  ExtToCompress.Sort();
}

void TCompressionLimiter::SetDefaultMimeTypes() {
  MIMEToCompress.Clear();
  for (const char* mime : {"text/html", "text/plain", "text/xml", "text/text", "text/css", "text/javascript",
                           "application/x-javascript"})
    MIMEToCompress.Add(mime);
  MIMEToCompress.Sort();
}

void TCompressionLimiter::LoadFromStream(StreamReader& s) {
  const int32_t r = s.ReadRecordVersion();
  Enabled = s.ReadBoolean();
  s.ReadStringList(ExtToCompress);
  s.ReadStringList(MIMEToCompress);
  ReservedText = s.ReadString();
  ReservedFlag = s.ReadByte();
  if (r == -1) s.Skip(LegacyPad);
  SortAndLowerCase(ExtToCompress);
  SortAndLowerCase(MIMEToCompress);
}

void TCompressionLimiter::SaveToStream(StreamWriter& s) const {
  s.WriteInteger(RecordVersion);
  s.WriteBoolean(Enabled);
  s.WriteStringList(ExtToCompress);
  s.WriteStringList(MIMEToCompress);
  s.WriteString(ReservedText);
  s.WriteByte(ReservedFlag);
}
