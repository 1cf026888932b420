#include "disk_picture.h"

#include <algorithm>
#include <array>
#include <map>
#include <utility>

#include "cut_plan.h"

namespace d88 {

const char* cellStateName(CellState state) {
  switch (state) {
    case CellState::kSound:
      return "sound";
    case CellState::kDeleted:
      return "deleted";
    case CellState::kIdCrc:
      return "id-crc";
    case CellState::kDataCrc:
      return "data-crc";
    case CellState::kNoAddressMark:
      return "no-address-mark";
    case CellState::kNoDataMark:
      return "no-data-mark";
    case CellState::kUnknownStatus:
      return "unknown-status";
    case CellState::kShort:
      return "short";
    case CellState::kForeign:
      return "foreign";
    case CellState::kTwin:
      return "twin";
  }
  return "";
}

CellState recordState(const SectorRecord& record, int trackC, int trackH, bool twin) {
  if (isMarkedBad(record.status)) {
    switch (record.status) {
      case kStatusIdCrcError:
        return CellState::kIdCrc;
      case kStatusDataCrcError:
        return CellState::kDataCrc;
      case kStatusNoAddressMark:
        return CellState::kNoAddressMark;
      case kStatusNoDataMark:
        return CellState::kNoDataMark;
      default:
        return CellState::kUnknownStatus;
    }
  }
  // Not marked bad, so not sound means its data falls short of its size code.
  if (!isSoundRecord(record)) return CellState::kShort;
  if (twin) return CellState::kTwin;
  if (record.id.c != trackC || record.id.h != trackH) return CellState::kForeign;
  if (isDeletedData(record)) return CellState::kDeleted;
  return CellState::kSound;
}

std::vector<bool> twinRecords(const TrackListing& track) {
  std::map<std::array<std::uint8_t, 4>, int> seen;
  for (const SectorRecord& record : track.records) {
    ++seen[{record.id.c, record.id.h, record.id.r, record.id.n}];
  }
  std::vector<bool> twins;
  twins.reserve(track.records.size());
  for (const SectorRecord& record : track.records) {
    twins.push_back(seen[{record.id.c, record.id.h, record.id.r, record.id.n}] > 1);
  }
  return twins;
}

bool gatherDiskPicture(Image& image, int index, const std::string& imagePath,
                       DiskPicture* picture) {
  DiskPicture p;
  if (!summarizeDisk(image, index, &p.disk, &p.tracks)) return false;
  p.imagePath = imagePath;
  for (int track = 0; track < kTrackCount; ++track) {
    if (image.disk().tracks[static_cast<std::size_t>(track)] != 0) p.lastTrack = track;
  }
  if (!p.tracks.empty()) p.lastTrack = std::max(p.lastTrack, p.tracks.back().track);
  if (index == 0) {
    for (const Cut& cut : cutPlan()) {
      CutReadout readout = readCut(image, cut, nullptr);
      for (std::size_t i = 0; i < readout.sectors.size(); ++i) {
        const int track = readout.sectors[i].address.track;
        if (track >= 0 && track < kTrackCount) p.lastTrack = std::max(p.lastTrack, track);
        p.plan.push_back({cut.name, i == 0, std::move(readout.sectors[i])});
      }
    }
  }
  *picture = std::move(p);
  return true;
}

}  // namespace d88
