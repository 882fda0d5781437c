// Affinity entries in storable form: carried across a settings reload and
// kept in the affinity file (data/lbconnections.bin) across a restart.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Common/uStreamIO.h"
#include "platform/DateTime.h"

// The affinity file below the program folder.
inline constexpr const char* LBConnectionsFileName = "data/lbconnections.bin";

struct TPackedConnection {
  int32_t ClusterKey = 0;
  int32_t ClientKey = 0;
  uint16_t ServerKey = 0;
  TDateTime LastUse = 0;

  // Entry version 2: LastUse is stored as a 4-byte float (337.5 s steps).
  void SaveToStream(StreamWriter& w) const;
  // An entry of version 1 has no LastUse and gets the time of loading.
  void LoadFromStream(StreamReader& r);
};

class TPackedConnectionList {
 public:
  std::vector<TPackedConnection> Items;

  int Count() const { return static_cast<int>(Items.size()); }
  void Clear() { Items.clear(); }
  void SaveToStream(StreamWriter& w) const;
  // Reads the whole list or raises EReadError, leaving the list empty.
  void LoadFromStream(StreamReader& r);
};
