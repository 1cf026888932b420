#include "cut_plan.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <set>

namespace d88 {
namespace {

// Appends the rows of a numbered table, named prefix + three-digit row index.
int appendTable(CutPlan& plan, int next, const char* prefix, const CutEntry* table) {
  for (int i = 0; table[i].sector != 0 && next < kCutCount; ++i, ++next) {
    Cut& cut = plan[static_cast<std::size_t>(next)];
    // Two-letter prefix and the row index as three digits: "MA000".
    std::snprintf(cut.name, sizeof cut.name, "%.2s%03u", prefix, static_cast<unsigned>(i) % 1000u);
    cut.track = table[i].track;
    cut.c = table[i].track >> 1;
    cut.h = table[i].track & 1;
    cut.r = table[i].sector;
    cut.n = kPlanSizeCode;
    cut.skip = 0;
    cut.length = table[i].length;
  }
  return next;
}

CutPlan makePlan() {
  CutPlan plan{};
  int next = 0;
  for (const Cut& cut : kFixedCuts) plan[static_cast<std::size_t>(next++)] = cut;
  next = appendTable(plan, next, "MA", kMaTable);
  appendTable(plan, next, "MB", kMbTable);
  return plan;
}


// One copy of a sector: the dump that holds it and its record there.
struct Copy {
  Image* image;
  SectorRecord record;
  int source;  // kFromImage or the spare's index
};

// The records of `at`'s identity in its track of `image`, in record order.
// A track that is not there adds none; a read that failed is the image's
// readFailure(), which the command reports.
void addCopies(Image& image, const SectorAddress& at, int source, std::vector<Copy>* copies) {
  std::vector<SectorRecord> records;
  (void)image.recordsOf(at, &records);
  for (const SectorRecord& record : records) copies->push_back({&image, record, source});
}

// Takes `record` of `image` as the sector of `outcome`, as a run takes the
// record it finds: its bytes into `slot` (nothing copied when null) as far
// as they go, and why fewer than the slot's came.
void takeCopy(Image& image, const SectorRecord& record, std::uint8_t* slot,
              SectorOutcome* outcome) {
  const std::int32_t wanted = std::max(outcome->slotBytes, 0);
  outcome->found = true;
  outcome->record = record;
  outcome->status = image.readRecord(record, slot, wanted, &outcome->bytesRead);
  if (outcome->status.ok() && outcome->bytesRead < wanted) {
    outcome->status = shortRecordStatus(record, wanted);
  }
}

// Whether the first `bytes` of two records of `image` are the same; a read
// that failed makes them differ.
bool sameBytes(Image& image, const SectorRecord& a, const SectorRecord& b, std::int32_t bytes) {
  bool same = false;
  return image.sameData(a, b, bytes, &same).ok() && same;
}

// The first sound copy of `copies`, else the first; nullptr when there is none.
const Copy* bestCopy(const std::vector<Copy>& copies) {
  for (const Copy& copy : copies) {
    if (isSoundRecord(copy.record)) return &copy;
  }
  return copies.empty() ? nullptr : &copies.front();
}

}  // namespace

const CutPlan& cutPlan() {
  static const CutPlan plan = makePlan();
  return plan;
}

CutReadout readCut(Image& image, const Cut& cut, std::uint8_t* buffer,
                   const std::vector<Spare>& spares) {
  const std::int32_t wanted = cut.skip + cut.length;
  if (buffer != nullptr) std::memset(buffer, 0, static_cast<std::size_t>(wanted));
  CutReadout readout;
  // The run's sectors and slots, and the first-match outcome of each: why
  // a sector that no copy holds is missing.
  for (SectorOutcome& sector : image.readRun({cut.track, cut.c, cut.h, cut.r, cut.n},
                                             kPlanSectorRange, nullptr, wanted)) {
    // Sectors wholly inside the part passed over give the file nothing.
    if (sector.slotOffset + sector.slotBytes <= cut.skip) continue;
    std::vector<Copy> copies;
    addCopies(image, sector.address, kFromImage, &copies);
    const std::size_t index = readout.sectors.size();
    for (std::size_t i = 1; i < copies.size(); ++i) {
      // Twins differ for the file when the bytes it would take differ.
      if (!sameBytes(image, copies.front().record, copies[i].record, sector.slotBytes)) {
        readout.differingTwins.push_back(index);
        break;
      }
    }
    // Spares are searched only when the image has no sound copy.
    if (copies.empty() || !isSoundRecord(bestCopy(copies)->record)) {
      for (std::size_t k = 0; k < spares.size(); ++k) {
        addCopies(*spares[k].image, sector.address, static_cast<int>(k), &copies);
      }
    }
    int source = kFromImage;
    if (const Copy* chosen = bestCopy(copies)) {
      takeCopy(*chosen->image, chosen->record,
               buffer != nullptr ? buffer + sector.slotOffset : nullptr, &sector);
      source = chosen->source;
    }
    readout.bytesRead += sector.bytesRead;
    if (sector.bytesRead < sector.slotBytes) readout.unread.push_back(index);
    if (sector.found && isMarkedBad(sector.record.status)) readout.markedBad.push_back(index);
    readout.sectors.push_back(std::move(sector));
    readout.source.push_back(source);
  }
  return readout;
}

SpareAgreement compareWithSpare(Image& image, Image& spare) {
  SpareAgreement agreement;
  std::set<std::array<std::int32_t, 5>> compared;
  std::vector<std::uint8_t> ourBytes;
  std::vector<std::uint8_t> theirBytes;
  for (const Cut& cut : cutPlan()) {
    for (const SectorOutcome& sector : image.readRun({cut.track, cut.c, cut.h, cut.r, cut.n},
                                                     kPlanSectorRange, nullptr,
                                                     cut.skip + cut.length)) {
      const SectorAddress& a = sector.address;
      if (!compared.insert({a.track, a.c, a.h, a.r, a.n}).second) continue;
      std::vector<Copy> mine;
      std::vector<Copy> theirs;
      addCopies(image, a, kFromImage, &mine);
      addCopies(spare, a, 0, &theirs);
      const Copy* ours = bestCopy(mine);
      const Copy* other = bestCopy(theirs);
      if (ours == nullptr || other == nullptr || !isSoundRecord(ours->record) ||
          !isSoundRecord(other->record)) {
        continue;
      }
      ++agreement.shared;
      // Both hold at least the size code's bytes: those are what a cut takes.
      const std::int32_t bytes = sectorBytes(a.n);
      ourBytes.resize(static_cast<std::size_t>(bytes));
      theirBytes.resize(static_cast<std::size_t>(bytes));
      std::int32_t ourGot = 0;
      std::int32_t theirGot = 0;
      if (!image.readRecord(ours->record, ourBytes.data(), bytes, &ourGot).ok() ||
          !spare.readRecord(other->record, theirBytes.data(), bytes, &theirGot).ok() ||
          ourGot != bytes || theirGot != bytes || ourBytes != theirBytes) {
        ++agreement.differing;
      }
    }
  }
  return agreement;
}

std::string spareRefusal(const SpareAgreement& agreement, const std::string& imageName) {
  if (agreement.sameDisk()) return std::string();
  if (agreement.shared == 0) return "it shares no sound sector with " + imageName;
  return std::to_string(agreement.differing) + " of the " + std::to_string(agreement.shared) +
         " sectors that both hold sound differ";
}

bool planFindsAnySector(Image& image) {
  for (const Cut& cut : cutPlan()) {
    if (readCut(image, cut, nullptr).bytesRead > 0) return true;
  }
  return false;
}

bool diskHoldsPlanKindOfSector(Image& image) {
  for (int track = 0; track < kTrackCount; ++track) {
    // A track that shares an earlier one's records holds nothing new.
    if (sameRecordsAs(image.disk(), track) >= 0) continue;
    const TrackWalk walk = image.walkTrack(track);
    for (const SectorRecord& record : walk.records) {
      if (record.id.n == kPlanSizeCode && record.id.r >= kPlanSectorRange.first &&
          record.id.r <= kPlanSectorRange.last) {
        return true;
      }
    }
  }
  return false;
}

}  // namespace d88
