#include "track_cache.h"

#include <algorithm>

namespace d88 {

const SectorRecord* CachedTrack::find(const SectorId& id) const {
  const std::uint32_t key = identityKey(id);
  const auto at = std::lower_bound(keys.begin(), keys.end(), key,
                                   [](const auto& entry, std::uint32_t k) { return entry.first < k; });
  if (at == keys.end() || at->first != key) return nullptr;
  return &walk.records[at->second];
}

const CachedTrack* TrackCache::find(std::int32_t track) const {
  if (track < 0 || track >= kTrackCount) return nullptr;
  const std::int16_t slot = slotOf_[static_cast<std::size_t>(track)];
  return slot >= 0 ? &slots_[static_cast<std::size_t>(slot)] : nullptr;
}

const CachedTrack* TrackCache::share(std::int32_t track, std::int64_t start) {
  if (track < 0 || track >= kTrackCount) return nullptr;
  for (std::size_t slot = 0; slot < used_; ++slot) {
    if (slots_[slot].start == start) {
      slotOf_[static_cast<std::size_t>(track)] = static_cast<std::int16_t>(slot);
      return &slots_[slot];
    }
  }
  return nullptr;
}

CachedTrack& TrackCache::fresh(std::int64_t start) {
  // One slot a track at most: there are as many slots as tracks.
  CachedTrack& walked = slots_[used_];
  walked.start = start;
  walked.walk.records.clear();
  walked.walk.end = TrackEnd::kRecordCount;
  walked.walk.endOffset = start;
  walked.walk.error = Status();
  walked.keys.clear();
  return walked;
}

void TrackCache::keep(std::int32_t track, CachedTrack& walked) {
  const std::vector<SectorRecord>& records = walked.walk.records;
  for (std::size_t i = 0; i < records.size() && records[i].recordCount != 0; ++i) {
    walked.keys.emplace_back(identityKey(records[i].id), static_cast<std::uint32_t>(i));
  }
  // Sorted by identity, then record index: the first record of an identity
  // comes first among its equals, and unique keeps it.
  std::sort(walked.keys.begin(), walked.keys.end());
  walked.keys.erase(std::unique(walked.keys.begin(), walked.keys.end(),
                                [](const auto& a, const auto& b) { return a.first == b.first; }),
                    walked.keys.end());
  recordsKept_ += records.size();
  slotOf_[static_cast<std::size_t>(track)] = static_cast<std::int16_t>(used_);
  ++used_;
}

void TrackCache::release() {
  clear();
  for (CachedTrack& slot : slots_) {
    slot.walk.records = std::vector<SectorRecord>();
    slot.keys = std::vector<std::pair<std::uint32_t, std::uint32_t>>();
  }
}

void TrackCache::clear() {
  slotOf_.fill(-1);
  used_ = 0;
  recordsKept_ = 0;
}

}  // namespace d88
