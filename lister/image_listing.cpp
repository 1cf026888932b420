#include "lister/image_listing.h"

#include <algorithm>
#include <array>
#include <map>
#include <set>
#include <tuple>

#include "cutter/cut_plan.h"

namespace d88 {
namespace {

// The value counted most often (the smallest such value on a tie).
template <typename Value>
Value mostCommon(const std::map<Value, int>& counts) {
  return std::max_element(counts.begin(), counts.end(),
                          [](const auto& a, const auto& b) { return a.second < b.second; })
      ->first;
}

}  // namespace

TrackListing listTrack(D88Image& image, int track) {
  TrackListing listing;
  listing.track = track;
  listing.c = track >> 1;
  listing.h = track & 1;
  std::array<std::uint8_t, kSectorIdSize * kMaxListedRecords> raw{};
  const int bytes = image.listSectorIds(track, raw.data(), static_cast<std::int32_t>(raw.size()));
  for (int i = 0; i + kSectorIdSize <= bytes; i += kSectorIdSize) {
    const std::size_t at = static_cast<std::size_t>(i);
    listing.records.push_back({raw[at], raw[at + 1], raw[at + 2], raw[at + 3]});
  }
  if (listing.records.empty()) return listing;

  std::map<int, int> sizeCodeCounts;
  std::set<std::uint32_t> seen;
  std::set<int> numbers;
  for (std::size_t i = 0; i < listing.records.size(); ++i) {
    const SectorId& id = listing.records[i];
    ++sizeCodeCounts[id.n];
    const std::uint32_t key = static_cast<std::uint32_t>(id.c) << 24 |
                              static_cast<std::uint32_t>(id.h) << 16 |
                              static_cast<std::uint32_t>(id.r) << 8 | id.n;
    if (!seen.insert(key).second) listing.duplicates.push_back(static_cast<int>(i));
    if (id.c != listing.c || id.h != listing.h) listing.mismatched.push_back(static_cast<int>(i));
    numbers.insert(id.r);
  }
  listing.usualN = mostCommon(sizeCodeCounts);
  // Sector numbers start at 1 on the disks these machines format.
  const int low = std::min(1, *numbers.begin());
  for (int r = low; r < *numbers.rbegin(); ++r) {
    if (numbers.count(r) == 0) listing.missingR.push_back(r);
  }
  return listing;
}

std::vector<TrackListing> listTracks(D88Image& image) {
  std::vector<TrackListing> tracks;
  for (int track = 0; track < kTrackCount; ++track) {
    TrackListing listing = listTrack(image, track);
    if (!listing.records.empty()) tracks.push_back(std::move(listing));
  }
  // A track with fewer records than most is often one cut off by the end of the file.
  std::map<std::size_t, int> counts;
  for (const TrackListing& t : tracks) ++counts[t.records.size()];
  if (!counts.empty()) {
    const int usual = static_cast<int>(mostCommon(counts));
    for (TrackListing& t : tracks) t.usualRecords = usual;
  }
  return tracks;
}

bool summarizeDisk(D88Image& image, int index, DiskSummary* summary,
                   std::vector<TrackListing>* tracks) {
  if (!image.selectDisk(index)) return false;
  DiskSummary s;
  s.index = index;
  s.offset = image.diskOffset();
  s.size = image.diskSize();
  s.mediaType = image.mediaType();
  s.name = image.diskName();
  std::set<int> sizeCodes;
  std::vector<TrackListing> listed = listTracks(image);
  for (const TrackListing& track : listed) {
    const int count = static_cast<int>(track.records.size());
    s.minSectors = s.tracks == 0 ? count : std::min(s.minSectors, count);
    s.maxSectors = std::max(s.maxSectors, count);
    ++s.tracks;
    for (const SectorId& id : track.records) sizeCodes.insert(id.n);
  }
  s.sizeCodes.assign(sizeCodes.begin(), sizeCodes.end());
  *summary = std::move(s);
  if (tracks != nullptr) *tracks = std::move(listed);
  return true;
}

CutCoverage checkCutPlan(D88Image& image) {
  image.setSectorRange(kPlanFirstSector, kPlanLastSector);
  CutCoverage coverage;
  std::set<std::tuple<int, int, int, int, int>> counted;
  static std::uint8_t sector[128 << 3];
  for (const Cut& cut : cutPlan()) {
    const std::int32_t sectorBytes = 128 << cut.n;
    SectorAddress at{cut.track, cut.c, cut.h, cut.r, cut.n};
    // Each sector as the cut reads it: whole, or the first part of the last.
    for (std::int32_t done = 0; done < cut.skip + cut.length; done += sectorBytes) {
      const std::int32_t want = std::min(sectorBytes, cut.skip + cut.length - done);
      if (counted.insert({at.track, at.c, at.h, at.r, at.n}).second) {
        ++coverage.sectors;
        if (image.readSector(at.track, at.c, at.h, at.r, at.n, sector, want) < want) {
          ++coverage.missing;
          if (coverage.firstMissing.size() < kFirstMissingShown) {
            coverage.firstMissing.push_back(at);
          }
        }
      }
      at = image.followingSector(at);
    }
  }
  return coverage;
}

const char* mediaName(int mediaType) {
  switch (mediaType) {
    case 0x00:
      return "2D";
    case 0x10:
      return "2DD";
    case 0x20:
      return "2HD";
    default:
      return nullptr;
  }
}

}  // namespace d88
