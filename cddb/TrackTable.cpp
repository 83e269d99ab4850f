#include "TrackTable.h"

#include <algorithm>

namespace ql {

TMMTrackTable::~TMMTrackTable() {
  auto clients = FClients;
  FClients.clear();
  for (auto* c : clients) c->TrackTableFreed(this);
}

std::vector<TMMTrackInfo> TMMTrackTable::Tracks() const {
  std::vector<TMMTrackInfo> v;
  int n = GetTrackCount();
  for (int i = 0; i < n; ++i) v.push_back(GetTrack(i));
  return v;
}

void TMMTrackTable::AddFreeNotification(TMMTrackTableClient* client) {
  if (std::find(FClients.begin(), FClients.end(), client) == FClients.end())
    FClients.push_back(client);
}

void TMMTrackTable::RemoveFreeNotification(TMMTrackTableClient* client) {
  FClients.erase(std::remove(FClients.begin(), FClients.end(), client), FClients.end());
}

std::vector<TMMTrackInfo> TMMTrackList::FromOffsets(const std::vector<int>& starts, int leadout) {
  std::vector<TMMTrackInfo> v;
  for (size_t i = 0; i < starts.size(); ++i) {
    int end = i + 1 < starts.size() ? starts[i + 1] : leadout;
    v.push_back({static_cast<int>(i + 1), starts[i], end - starts[i]});
  }
  return v;
}

}  // namespace ql
