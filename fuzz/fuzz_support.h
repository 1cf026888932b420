// What both fuzz targets share: a scratch folder and the input as an image file.
#ifndef D88CUT_FUZZ_FUZZ_SUPPORT_H_
#define D88CUT_FUZZ_FUZZ_SUPPORT_H_

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace d88fuzz {

// Makes a private scratch folder and makes it the current directory.
void enterScratchFolder();
// Writes the input to "input.d88" in the scratch folder and returns that name.
const char* writeInput(const std::uint8_t* data, std::size_t size);

}  // namespace d88fuzz

// A broken promise of the code under test: stop here, so libFuzzer keeps the input.
#define FUZZ_CHECK(condition) \
  do {                        \
    if (!(condition)) std::abort(); \
  } while (0)

#endif  // D88CUT_FUZZ_FUZZ_SUPPORT_H_
