#include "Common/uPackedConnections.h"

namespace {
constexpr int32_t ListVersion = 1;
constexpr int32_t EntryVersion = 2;
constexpr size_t MinEntryBytes = 14;  // an entry of version 1
}  // namespace

void TPackedConnection::SaveToStream(StreamWriter& w) const {
  w.WriteInteger(EntryVersion);
  w.WriteInteger(ClusterKey);
  w.WriteInteger(ClientKey);
  w.WriteWord(ServerKey);
  w.WriteSingle(static_cast<float>(LastUse));
}

void TPackedConnection::LoadFromStream(StreamReader& r) {
  const int32_t version = r.ReadInteger();
  ClusterKey = r.ReadInteger();
  ClientKey = r.ReadInteger();
  ServerKey = r.ReadWord();
  LastUse = version >= 2 ? static_cast<TDateTime>(r.ReadSingle()) : Now();
}

void TPackedConnectionList::SaveToStream(StreamWriter& w) const {
  w.WriteInteger(ListVersion);
  w.WriteInteger(Count());
  for (const TPackedConnection& entry : Items) entry.SaveToStream(w);
}

void TPackedConnectionList::LoadFromStream(StreamReader& r) {
  Items.clear();
  r.ReadInteger();  // list version: every version so far reads the same
  const int32_t count = r.ReadCount(MinEntryBytes);
  std::vector<TPackedConnection> items;
  items.reserve(count);  // bounded by the bytes present
  for (int32_t i = 0; i < count; ++i) {
    TPackedConnection entry;
    entry.LoadFromStream(r);
    items.push_back(entry);
  }
  Items = std::move(items);
}
