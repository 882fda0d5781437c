// The compression switch and the extension and MIME-type lists that decide
// which responses are compressed.
#pragma once

#include <cstdint>
#include <string>

#include "Common/uStreamIO.h"
#include "platform/Classes.h"

class TCompressionLimiter {
 public:
  TCompressionLimiter();

  uint8_t ReservedFlag = 0;  // stored and restored only
  bool Enabled = true;
  std::string ReservedText;  // stored and restored only
  TStringList MIMEToCompress;
  TStringList ExtToCompress;

  void SetDefaultExtensions();
  void SetDefaultMimeTypes();

  // Reading sorts both lists and lower-cases their entries.
  void LoadFromStream(StreamReader& s);
  void SaveToStream(StreamWriter& s) const;
};
