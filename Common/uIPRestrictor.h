// A client-address rule: a ban or allow list of addresses and prefixes, and
// what to do with a client it refuses.
#pragma once

#include <cstdint>
#include <string>

#include "Common/uStreamIO.h"
#include "platform/Classes.h"

class TIPRestrictor {
 public:
  std::string FileName;             // sent by the deny action "Send File"
  uint8_t RequestDeniedAction = 0;  // index into DenyActionNames
  uint8_t Mode = 1;                 // 1 ban list, 0 allow list
  TStringList IPNumbers;            // addresses, or prefixes ending in "*"

  // Whether the rule lets the client address IP through (a rule without
  // entries lets everyone through), and whether IP is on its list.
  bool IsAllowed(const std::string& ip) const;
  bool InList(const std::string& ip) const;

  void LoadFromStream(StreamReader& s);
  void SaveToStream(StreamWriter& s) const;

  // Smallest stored record (legacy records are larger).
  static constexpr size_t MinRecordBytes = 14;
};
