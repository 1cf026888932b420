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

namespace {

// The last track a disk of `mediaType` has, as the media byte names it: 40
// cylinders for 2D and 1D, 80 for 2DD and 1DD, 77 for 2HD; a one-sided
// disk's last is head 0 of its last cylinder. -1 for an unknown byte.
int mediaLastTrack(int mediaType) {
  switch (mediaType) {
    case kMedia2D:
      return 2 * 40 - 1;
    case kMedia2DD:
      return 2 * 80 - 1;
    case kMedia2HD:
      return 2 * 77 - 1;
    case kMedia1D:
      return 2 * (40 - 1);
    case kMedia1DD:
      return 2 * (80 - 1);
    default:
      return -1;
  }
}

}  // namespace

bool gatherDiskPicture(Image& image, int index, const std::string& imagePath,
                       DiskPicture* picture) {
  DiskPicture p;
  if (!summarizeDisk(image, index, &p.disk, &p.tracks)) return false;
  p.imagePath = imagePath;
  for (int track = 0; track < kTrackCount; ++track) {
    if (image.disk().tracks[static_cast<std::size_t>(track)] != 0) p.lastTrack = track;
  }
  if (!p.tracks.empty()) {
    p.lastTrack = std::max(p.lastTrack, p.tracks.back().track);
  } else {
    // An unformatted disk has no track to go by: it is drawn as far as its
    // media names, so that it shows as the empty disk it is.
    p.lastTrack = std::max(p.lastTrack, mediaLastTrack(p.disk.mediaType));
  }
  if (index == 0) {
    bool found = false;
    for (const Cut& cut : cutPlan()) {
      CutReadout readout = readCut(image, cut, nullptr);
      for (std::size_t i = 0; i < readout.sectors.size(); ++i) {
        found = found || readout.sectors[i].found;
        p.plan.push_back({cut.name, i == 0, std::move(readout.sectors[i])});
      }
    }
    // On a disk that holds none of them, nor any sector of their kind, the
    // plan's sectors would be only holes over a disk of another layout: it
    // is not drawn there. A 2HD dump that lost the plan's tracks shows its
    // holes, as its listing counts them.
    if (found || diskHoldsPlanKindOfSector(image)) {
      for (const PlanSlot& slot : p.plan) {
        const int track = slot.outcome.address.track;
        if (track >= 0 && track < kTrackCount) p.lastTrack = std::max(p.lastTrack, track);
      }
    } else {
      p.plan.clear();
      p.planNotHeld = true;
    }
  }
  *picture = std::move(p);
  return true;
}

}  // namespace d88
