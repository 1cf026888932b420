// The whole cutting path on arbitrary bytes: open, select disk 0 and the
// twenty cuts into a scratch folder. Every output must come out at its full
// length whatever the image holds.
#include <sys/stat.h>

#include <cstdio>

#include "cutter/cut_plan.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  d88::D88Image& image = d88fuzz::openInput(data, size);
  if (!image.selectDisk(0)) return 0;
  for (const d88::Cut& cut : d88::cutPlan()) std::remove(cut.name);
  d88::cutAllFiles(image, d88fuzz::kInputName);
  for (const d88::Cut& cut : d88::cutPlan()) {
    struct stat st {};
    FUZZ_CHECK(stat(cut.name, &st) == 0 && st.st_size == cut.length);
  }
  return 0;
}
