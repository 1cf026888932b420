// Which walked tracks of the selected disk are kept, and the index a search
// of one uses. Walks are bounded, so every track of the disk is kept: at most
// 164 walks of kMaxTrackRecords records. Table entries that point at one
// place share one walk. Private to the reader.
#ifndef D88CUT_IMAGE_TRACK_CACHE_H_
#define D88CUT_IMAGE_TRACK_CACHE_H_

#include <array>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include <d88/d88_image.h>

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
  // The walk kept for `track`; nullptr when there is none.
  const CachedTrack* find(std::int32_t track) const;
  // A walk kept for another track that starts at file offset `start`;
  // kept for `track` too. nullptr when there is none.
  const CachedTrack* share(std::int32_t track, std::int64_t start);
  // Keeps `walk` of `track`, which starts at `start`, and indexes it.
  const CachedTrack* keep(std::int32_t track, std::int64_t start, TrackWalk walk);
  void clear();
  // Records held, counting a shared walk once.
  std::uint64_t recordsKept() const { return recordsKept_; }

 private:
  std::array<std::shared_ptr<const CachedTrack>, kTrackCount> tracks_;
  std::uint64_t recordsKept_ = 0;
};

// C, H, R, N in one number, in that order of significance.
std::uint32_t identityKey(const SectorId& id);

}  // namespace d88

#endif  // D88CUT_IMAGE_TRACK_CACHE_H_
