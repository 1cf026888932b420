#include "cut_plan.h"

#include <cstdio>
#include <cstring>

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

}  // namespace

const CutPlan& cutPlan() {
  static const CutPlan plan = makePlan();
  return plan;
}

CutReadout readCut(D88Image& image, const Cut& cut, std::uint8_t* buffer) {
  const std::int32_t wanted = cut.skip + cut.length;
  if (buffer != nullptr) std::memset(buffer, 0, static_cast<std::size_t>(wanted));
  CutReadout readout;
  for (SectorOutcome& sector : image.readRun({cut.track, cut.c, cut.h, cut.r, cut.n},
                                             kPlanSectorRange, buffer, wanted)) {
    // Sectors wholly inside the part passed over give the file nothing.
    if (sector.slotOffset + sector.slotBytes <= cut.skip) continue;
    const std::size_t index = readout.sectors.size();
    readout.bytesRead += sector.bytesRead;
    if (sector.bytesRead < sector.slotBytes) readout.unread.push_back(index);
    if (sector.found && isMarkedBad(sector.record.status)) readout.markedBad.push_back(index);
    readout.sectors.push_back(std::move(sector));
  }
  return readout;
}

bool planFindsAnySector(D88Image& image) {
  for (const Cut& cut : cutPlan()) {
    if (readCut(image, cut, nullptr).bytesRead > 0) return true;
  }
  return false;
}

}  // namespace d88
