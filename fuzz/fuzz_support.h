// What the fuzz targets share: a private scratch folder as the current
// directory (made by LLVMFuzzerInitialize, defined here), and the input opened
// as an image file.
#ifndef D88CUT_FUZZ_FUZZ_SUPPORT_H_
#define D88CUT_FUZZ_FUZZ_SUPPORT_H_

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include <d88/d88_image.h>

namespace d88fuzz {

// The name of the image file that openInput() writes.
constexpr const char kInputName[] = "input.d88";

// Writes the input to kInputName in the scratch folder and opens it with one
// reader instance kept across inputs, as a long-lived caller would keep it.
// An input that the reader refuses as no D88 image at all leaves the
// instance closed (diskCount() 0, status() kNotD88Image); any other failed
// open is a finding.
d88::D88Image& openInput(const std::uint8_t* data, std::size_t size);

}  // namespace d88fuzz

// A broken promise of the code under test: stop here, so libFuzzer keeps the input.
#define FUZZ_CHECK(condition) \
  do {                        \
    if (!(condition)) std::abort(); \
  } while (0)

#endif  // D88CUT_FUZZ_FUZZ_SUPPORT_H_
