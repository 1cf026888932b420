// The disks of an image file: where each starts, where its records end, and
// its 688-byte header decoded. Finding them is open()'s job. Private to the reader.
#ifndef D88CUT_IMAGE_DISK_DIRECTORY_H_
#define D88CUT_IMAGE_DISK_DIRECTORY_H_

#include <array>
#include <cstdint>
#include <vector>

#include <d88/format.h>
#include <d88/image.h>
#include <d88/status.h>

namespace d88 {

class ByteSource;

// Where a disk's records end when the file has no size to tell.
constexpr std::int64_t kNoEnd = INT64_MAX;

struct DiskEntry {
  std::int64_t offset = 0;  // file offset of the disk's header
  // File offset where its records end: the next disk's offset; the end of
  // the file for the last disk (kNoEnd for a stream); for the 64th disk the
  // end its size field gives, or the file's end when that comes first.
  std::int64_t end = 0;
  std::array<std::uint8_t, kDiskHeaderSize> header{};
};

// The fields of a disk header the reader uses.
struct DiskHeaderFields {
  char name[kNameLength + 1] = {};  // up to the first zero byte, at most 16 characters
  std::uint8_t writeProtect = 0;
  std::uint8_t mediaType = 0;
  std::uint32_t size = 0;  // the size field
  // Offsets of the tracks from the disk's start; 0 for an absent track and
  // for the slots that a short table leaves to sector data.
  std::array<std::uint32_t, kTrackCount> tracks{};
  // Where the table ends: where the first track begins, or the header's end.
  std::uint32_t tableEnd = kDiskHeaderSize;
  // The first slot whose entry is not 0, and that entry as the header has
  // it (even when it points before its own slot's end); -1 when none is.
  int firstTrack = -1;
  std::uint32_t firstEntry = 0;
};

// Finds the disks of `source`: each whole 688-byte header is a disk, and its
// size field says where the next one starts. Ends at a header cut off by the
// end of the file, after a size field smaller than a header (which would find
// the same disk again and again), or after kMaxDisks. The disks found before
// a read that failed are kept in *disks; the failure is returned. *tail says
// what stands where the search ended: a header cut off there is bytes that
// belong to no disk, a whole one after kMaxDisks is a disk not read.
Status findDisks(ByteSource& source, std::vector<DiskEntry>* disks, DirectoryTail* tail);

DiskHeaderFields decodeDiskHeader(const std::uint8_t* header);

}  // namespace d88

#endif  // D88CUT_IMAGE_DISK_DIRECTORY_H_
