// Writing an output file whole or not at all.
#ifndef D88CUT_CUTTER_OUTPUT_FILE_H_
#define D88CUT_CUTTER_OUTPUT_FILE_H_

#include <cstddef>
#include <cstdint>

namespace d88 {

// Suffix of the temporary file written beside an output before it replaces it.
constexpr const char kTemporarySuffix[] = ".d88cut-tmp";

// Writes `size` bytes to the file `name`, replacing any file of that name only
// once the new one is complete and closed. Returns 0, or the errno value of the
// failure; on failure `name` is as it was and no temporary file remains.
int writeFileWhole(const char* name, const std::uint8_t* data, std::size_t size);

// True when both paths exist and name the same file.
bool isSameFile(const char* a, const char* b);

}  // namespace d88

#endif  // D88CUT_CUTTER_OUTPUT_FILE_H_
