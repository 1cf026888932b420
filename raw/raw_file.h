// A raw image and its map written to files, each whole or not at all.
#ifndef D88CUT_RAW_RAW_FILE_H_
#define D88CUT_RAW_RAW_FILE_H_

#include <cstdint>
#include <string>

#include "output_file.h"
#include "raw_image.h"

namespace d88 {

// Bytes of the raw image gathered before each write to its file.
constexpr std::size_t kRawWriteBytes = 128 * 1024;

// What became of a conversion into files.
struct RawFileResult {
  RawSummary summary;
  // The file that could not be written (the raw image's or the map's path,
  // as given), and why; empty when both were written.
  std::string failedPath;
  WriteResult written;
};

// Converts the selected disk of `image` (disk number `disk`, for the map)
// into the file `outPath` and, when `mapPath` is not null, its map as JSON
// into `mapPath` (both UTF-8), each through a temporary file beside it. Both
// are renamed into place only when both are complete and the image was read
// without failure, as one (PendingFile::commitTogether); otherwise neither
// is changed and no temporary stays.
RawFileResult writeRawFiles(Image& image, int disk, const RawGeometry& geometry,
                            std::uint8_t fill, const char* outPath, const char* mapPath);

}  // namespace d88

#endif  // D88CUT_RAW_RAW_FILE_H_
