#include "planned_files.h"

#include <algorithm>

#include "test_support.h"

namespace d88test {

const PlannedFile kPlan[20] = {
    {"PROG", 60, 1, 81920}, {"VD000", 37, 7, 1792}, {"VD001", 43, 6, 1024},
    {"MA000", 40, 1, 2048}, {"MA001", 40, 3, 5120}, {"MA002", 40, 8, 4096},
    {"MA003", 41, 4, 4096}, {"MA004", 42, 1, 2048}, {"MA005", 42, 3, 2048},
    {"MA006", 42, 5, 1024}, {"MA007", 42, 6, 3072}, {"MA008", 45, 1, 1024},
    {"MB000", 39, 5, 1024}, {"MB001", 39, 6, 1024}, {"MB002", 39, 7, 1024},
    {"MB003", 39, 8, 1024}, {"MB004", 41, 8, 1024}, {"MB005", 45, 4, 1024},
    {"MB006", 45, 5, 1024}, {"MB007", 45, 6, 1024},
};

d88build::Bytes expectedContent(const PlannedFile& file, const d88build::Image& image,
                                std::size_t available, bool* complete, int seed) {
  constexpr std::size_t kSector = 1024;
  const std::size_t length = static_cast<std::size_t>(file.length);
  d88build::Bytes out;
  int track = file.track;
  int r = file.r;
  bool whole = true;
  while (out.size() < length) {
    const std::size_t want = std::min(kSector, length - out.size());
    const std::size_t data = image.recordOffset(0, track, r - 1) + 16;
    const std::size_t there = data > available ? 0 : std::min(kSector, available - data);
    const d88build::Bytes sector = d88build::sectorPattern(seed, track, r, std::min(want, there));
    out.insert(out.end(), sector.begin(), sector.end());
    if (there < want) {
      whole = false;
      break;
    }
    if (++r > 8) {
      r = 1;
      ++track;
    }
  }
  out.resize(length, 0);
  if (complete != nullptr) *complete = whole;
  return out;
}

std::string progressLines() {
  std::string out;
  for (const PlannedFile& f : kPlan) out += std::string("cutting ... ") + f.name + kNewline;
  return out;
}

std::vector<std::string> sortedPlannedNames() {
  std::vector<std::string> names;
  for (const PlannedFile& f : kPlan) names.push_back(f.name);
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace d88test
