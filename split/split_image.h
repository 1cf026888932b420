// Splitting a multi-disk D88 file into one file per disk, byte for byte.
#ifndef D88CUT_SPLIT_SPLIT_IMAGE_H_
#define D88CUT_SPLIT_SPLIT_IMAGE_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <d88/image.h>

#include "file_system.h"
#include "output_file.h"

namespace d88 {

// Bytes copied at a time: the one buffer a split holds.
constexpr std::size_t kSplitBufferBytes = 1024 * 1024;

// The buffer the parts are read through where the system does not copy
// them: the caller's, given to every part, and allocated (kSplitBufferBytes)
// by the first part that needs it.
struct SplitBuffer {
  std::unique_ptr<std::uint8_t[]> bytes;
};

// The name standard input ("-") is given as a stem.
constexpr const char kStandardInputStem[] = "stdin";

// One disk of a file as a split writes it: its bytes from its header to where
// the next disk starts; the last disk found runs to the end of the file, so
// that the parts put back together are the file again.
struct DiskPart {
  int disk = 0;              // the disk's number, from 0, as d88ls counts it
  std::int64_t offset = 0;   // file offset of its header
  std::int64_t end = -1;     // file offset where it ends; -1: the end of the input
  std::uint32_t sizeField = 0;  // the header's size field, as it says
};

// The parts of the disks open() found in `image`, in file order; none when it
// found none. Selects each disk in turn; the last stays selected.
std::vector<DiskPart> diskParts(const Image& image);

// The image's file name without its folder and without its last extension
// ("games/ys.d88" gives "ys"; a leading dot is no extension). "-" (standard
// input) gives kStandardInputStem.
std::string imageStem(const std::string& path);

// "STEM.diskN.d88": the file of disk N.
std::string partFileName(const std::string& stem, int disk);

// What became of one part.
struct PartResult {
  WriteResult written;     // the output file's failure, if any
  Status readFailure;      // a read of the image that failed; the file is then not written
  std::int64_t bytes = 0;  // bytes the file holds when written
};

// Copies `part` of `image` into the file `path` (UTF-8) through a temporary
// file and a rename: by the system from `source` (a second handle to the
// image file the reader has open, see CopySourceFile) where it can, the rest read
// through the reader into `buffer`, kSplitBufferBytes at a time. On any
// failure `path` is as it was and no temporary stays; ENOMEM when the buffer
// cannot be had.
PartResult writePart(Image& image, const DiskPart& part, const char* path,
                     SplitBuffer* buffer, const CopySourceFile* source = nullptr);

// Writes parts[i] into paths[i] as writePart() does, in order. Where the system copies from `source`, a part's copy and
// the next one's run at once (the next on a thread of its own), and each
// file is still renamed into place in order. announce(i) is called before
// part i, done(i, result) after it; when done() returns false the remaining
// parts are not written and no temporary stays.
void writeParts(Image& image, const std::vector<DiskPart>& parts,
                const std::vector<std::string>& paths, const CopySourceFile& source,
                SplitBuffer* buffer,
                const std::function<void(std::size_t)>& announce,
                const std::function<bool(std::size_t, const PartResult&)>& done);

}  // namespace d88

#endif  // D88CUT_SPLIT_SPLIT_IMAGE_H_
