#include "cutter/cut_plan.h"

#include <cstdio>

namespace d88 {

const CutEntry kMaTable[] = {
    {40, 1, 2048}, {40, 3, 5120}, {40, 8, 4096}, {41, 4, 4096}, {42, 1, 2048},
    {42, 3, 2048}, {42, 5, 1024}, {42, 6, 3072}, {45, 1, 1024}, {0, 0, 0},
};

const CutEntry kMbTable[] = {
    {39, 5, 1024}, {39, 6, 1024}, {39, 7, 1024}, {39, 8, 1024},
    {41, 8, 1024}, {45, 4, 1024}, {45, 5, 1024}, {45, 6, 1024}, {0, 0, 0},
};

namespace {

constexpr std::int32_t kPlanSizeCode = 3;

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
  CutPlan plan{{
      {"PROG", 60, 30, 0, 1, kPlanSizeCode, 0, 81920},
      {"VD000", 37, 18, 1, 7, kPlanSizeCode, 0, 1792},
      {"VD001", 43, 21, 1, 6, kPlanSizeCode, 0, 1024},
  }};
  int next = appendTable(plan, 3, "MA", kMaTable);
  appendTable(plan, next, "MB", kMbTable);
  return plan;
}

}  // namespace

const CutPlan& cutPlan() {
  static const CutPlan plan = makePlan();
  return plan;
}

}  // namespace d88
