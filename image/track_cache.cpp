#include "track_cache.h"

#include <algorithm>

namespace d88 {

std::uint32_t identityKey(const SectorId& id) {
  return static_cast<std::uint32_t>(id.c) << 24 | static_cast<std::uint32_t>(id.h) << 16 |
         static_cast<std::uint32_t>(id.r) << 8 | id.n;
}

const SectorRecord* CachedTrack::find(const SectorId& id) const {
  const std::uint32_t key = identityKey(id);
  const auto at = std::lower_bound(keys.begin(), keys.end(), key,
                                   [](const auto& entry, std::uint32_t k) { return entry.first < k; });
  if (at == keys.end() || at->first != key) return nullptr;
  return &walk.records[at->second];
}

const CachedTrack* TrackCache::find(std::int32_t track) const {
  if (track < 0 || track >= kTrackCount) return nullptr;
  return tracks_[static_cast<std::size_t>(track)].get();
}

const CachedTrack* TrackCache::share(std::int32_t track, std::int64_t start) {
  if (track < 0 || track >= kTrackCount) return nullptr;
  for (const auto& kept : tracks_) {
    if (kept && kept->start == start) {
      tracks_[static_cast<std::size_t>(track)] = kept;
      return kept.get();
    }
  }
  return nullptr;
}

const CachedTrack* TrackCache::keep(std::int32_t track, std::int64_t start, TrackWalk walk) {
  if (track < 0 || track >= kTrackCount) return nullptr;
  auto kept = std::make_shared<CachedTrack>();
  kept->start = start;
  kept->walk = std::move(walk);
  const std::vector<SectorRecord>& records = kept->walk.records;
  for (std::size_t i = 0; i < records.size() && records[i].recordCount != 0; ++i) {
    kept->keys.emplace_back(identityKey(records[i].id), static_cast<std::uint32_t>(i));
  }
  // The first record of an identity wins: a stable sort keeps record order
  // among equals, and unique keeps the first of them.
  std::stable_sort(kept->keys.begin(), kept->keys.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  kept->keys.erase(std::unique(kept->keys.begin(), kept->keys.end(),
                               [](const auto& a, const auto& b) { return a.first == b.first; }),
                   kept->keys.end());
  recordsKept_ += records.size();
  tracks_[static_cast<std::size_t>(track)] = kept;
  return kept.get();
}

void TrackCache::clear() {
  for (auto& t : tracks_) t.reset();
  recordsKept_ = 0;
}

}  // namespace d88
