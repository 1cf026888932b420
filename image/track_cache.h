// Which walked tracks of the selected disk are kept, and the index a search
// of one uses. Walks are bounded, so every track of the disk is kept: at most
// 164 walks of kMaxTrackRecords records, in storage that is used again from
// disk to disk, so that walking a track allocates nothing once the storage
// has grown. Table entries that point at one place share one walk. Private
// to the reader.
#ifndef D88CUT_IMAGE_TRACK_CACHE_H_
#define D88CUT_IMAGE_TRACK_CACHE_H_

#include <array>
#include <cstdint>
#include <utility>
#include <vector>

#include <d88/format.h>

#include "d88_layout.h"

namespace d88 {

// A walked track and its search index.
struct CachedTrack {
  std::int64_t start = 0;  // file offset of the first record
  TrackWalk walk;
  // (identity, record index) of the first record of each identity that a
  // search reaches, sorted by identity. A search ends at a header whose
  // record count is 0, so that record and any after it are not here.
  std::vector<std::pair<std::uint32_t, std::uint32_t>> keys;

  // The first record a search for `id` reaches; nullptr when none.
  const SectorRecord* find(const SectorId& id) const;
};

class TrackCache {
 public:
  TrackCache() { clear(); }

  // The walk kept for `track`; nullptr when there is none.
  const CachedTrack* find(std::int32_t track) const;
  // A walk kept for another track that starts at file offset `start`;
  // kept for `track` too. nullptr when there is none.
  const CachedTrack* share(std::int32_t track, std::int64_t start);
  // An empty walk that starts at `start`, for the caller to fill and then
  // hand to keep(); its storage is that of an earlier walk. Nothing is kept
  // until keep() is called.
  CachedTrack& fresh(std::int64_t start);
  // Keeps the walk fresh() gave, filled, for `track`, and indexes it.
  void keep(std::int32_t track, CachedTrack& walked);
  // Forgets every walk; the storage stays for the next disk.
  void clear();
  // Forgets every walk and gives back their storage.
  void release();
  // Records held, counting a shared walk once.
  std::uint64_t recordsKept() const { return recordsKept_; }

 private:
  std::array<CachedTrack, kTrackCount> slots_;
  // Which slot holds each track's walk; -1 for none.
  std::array<std::int16_t, kTrackCount> slotOf_{};
  std::size_t used_ = 0;
  std::uint64_t recordsKept_ = 0;

};

}  // namespace d88

#endif  // D88CUT_IMAGE_TRACK_CACHE_H_
