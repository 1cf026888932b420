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


// The records of the identity `at` seeks, in its track, in record order.
std::vector<SectorRecord> copiesOf(D88Image& image, const SectorAddress& at) {
  std::vector<SectorRecord> copies;
  for (std::int32_t part : {at.c, at.h, at.r, at.n}) {
    if (part < 0 || part > 0xFF) return copies;
  }
  const SectorId id{static_cast<std::uint8_t>(at.c), static_cast<std::uint8_t>(at.h),
                    static_cast<std::uint8_t>(at.r), static_cast<std::uint8_t>(at.n)};
  for (const SectorRecord& record : image.walkTrack(at.track).records) {
    if (sameIdentity(record.id, id)) copies.push_back(record);
  }
  return copies;
}

// One copy of a sector: the image that holds it and its record there.
struct Copy {
  D88Image* image;
  SectorRecord record;
  int source;  // kFromImage or the spare's index
};

// The first sound copy of `copies`, else the first; nullptr when empty.
const Copy* bestCopy(const std::vector<Copy>& copies) {
  for (const Copy& copy : copies) {
    if (isSoundRecord(copy.record)) return &copy;
  }
  return copies.empty() ? nullptr : &copies.front();
}

// The first sound record of `records`; nullptr when none is.
const SectorRecord* firstSound(const std::vector<SectorRecord>& records) {
  for (const SectorRecord& record : records) {
    if (isSoundRecord(record)) return &record;
  }
  return nullptr;
}

// Takes `copy` into the outcome of its sector: its record, and its bytes
// copied into the slot when there is a buffer.
void takeCopy(const Copy& copy, std::uint8_t* slot, SectorOutcome* outcome) {
  const SectorRecord& record = copy.record;
  const std::int32_t there = std::min(outcome->slotBytes, std::max(record.dataAvailable, 0));
  outcome->found = true;
  outcome->record = record;
  outcome->bytesRead = slot != nullptr ? copy.image->readRecord(record, slot, there) : there;
  outcome->status = Status();
  if (outcome->bytesRead == outcome->slotBytes) return;
  if (outcome->bytesRead < there) {
    outcome->status = copy.image->status();  // the read failed: the system's reason
  } else if (record.dataAvailable < record.dataSize) {
    outcome->status = Status::corruption("the sector's data is cut off by the end of the disk");
  } else {
    outcome->status = Status::corruption("the sector holds " + std::to_string(record.dataSize) +
                                         " of " + std::to_string(outcome->slotBytes) + " bytes");
  }
}

}  // namespace

const CutPlan& cutPlan() {
  static const CutPlan plan = makePlan();
  return plan;
}

CutReadout readCut(D88Image& image, const Cut& cut, std::uint8_t* buffer, const Spares& spares) {
  const std::int32_t wanted = cut.skip + cut.length;
  if (buffer != nullptr) std::memset(buffer, 0, static_cast<std::size_t>(wanted));
  CutReadout readout;
  readout.takenFromSpare.assign(spares.size(), 0);
  // The run's sectors and slots, and the first-match outcome of each: why
  // a sector that no copy holds is missing.
  for (SectorOutcome& sector : image.readRun({cut.track, cut.c, cut.h, cut.r, cut.n},
                                             kPlanSectorRange, nullptr, wanted)) {
    // Sectors wholly inside the part passed over give the file nothing.
    if (sector.slotOffset + sector.slotBytes <= cut.skip) continue;
    std::vector<Copy> copies;
    for (const SectorRecord& record : copiesOf(image, sector.address)) {
      copies.push_back({&image, record, kFromImage});
    }
    const std::size_t index = readout.sectors.size();
    for (std::size_t i = 1; i < copies.size(); ++i) {
      // Twins differ for the file when the bytes it would take differ.
      if (!image.sameData(copies.front().record, copies[i].record, sector.slotBytes)) {
        readout.differingTwins.push_back(index);
        break;
      }
    }
    // Spares are searched only when the image has no sound copy.
    if (copies.empty() || !isSoundRecord(bestCopy(copies)->record)) {
      for (std::size_t k = 0; k < spares.size(); ++k) {
        for (const SectorRecord& record : copiesOf(*spares[k], sector.address)) {
          copies.push_back({spares[k], record, static_cast<int>(k)});
        }
      }
    }
    int source = kFromImage;
    if (const Copy* chosen = bestCopy(copies)) {
      takeCopy(*chosen, buffer != nullptr ? buffer + sector.slotOffset : nullptr, &sector);
      source = chosen->source;
      if (source != kFromImage) ++readout.takenFromSpare[static_cast<std::size_t>(source)];
    }
    readout.bytesRead += sector.bytesRead;
    if (sector.bytesRead < sector.slotBytes) readout.unread.push_back(index);
    if (sector.found && isMarkedBad(sector.record.status)) readout.markedBad.push_back(index);
    readout.sectors.push_back(std::move(sector));
    readout.source.push_back(source);
  }
  return readout;
}

SpareAgreement compareWithSpare(D88Image& image, D88Image& spare) {
  SpareAgreement agreement;
  std::set<std::array<std::int32_t, 5>> compared;
  std::vector<std::uint8_t> ours;
  std::vector<std::uint8_t> theirs;
  for (const Cut& cut : cutPlan()) {
    for (const SectorOutcome& sector : image.readRun({cut.track, cut.c, cut.h, cut.r, cut.n},
                                                     kPlanSectorRange, nullptr,
                                                     cut.skip + cut.length)) {
      const SectorAddress& a = sector.address;
      if (!compared.insert({a.track, a.c, a.h, a.r, a.n}).second) continue;
      const std::vector<SectorRecord> imageCopies = copiesOf(image, a);
      const std::vector<SectorRecord> spareCopies = copiesOf(spare, a);
      const SectorRecord* mine = firstSound(imageCopies);
      const SectorRecord* other = firstSound(spareCopies);
      if (mine == nullptr || other == nullptr) continue;
      ++agreement.shared;
      // Both hold at least the size code's bytes: those are what a cut takes.
      const std::int32_t bytes = sectorBytes(a.n);
      ours.resize(static_cast<std::size_t>(bytes));
      theirs.resize(static_cast<std::size_t>(bytes));
      if (image.readRecord(*mine, ours.data(), bytes) != bytes ||
          spare.readRecord(*other, theirs.data(), bytes) != bytes || ours != theirs) {
        ++agreement.differing;
      }
    }
  }
  return agreement;
}

bool planFindsAnySector(D88Image& image) {
  for (const Cut& cut : cutPlan()) {
    if (readCut(image, cut, nullptr).bytesRead > 0) return true;
  }
  return false;
}

}  // namespace d88
