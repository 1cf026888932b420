#include "disk_directory.h"

#include <algorithm>
#include <cstring>

#include "byte_source.h"
#include "d88_layout.h"

namespace d88 {

Status findDisks(ByteSource& source, std::vector<DiskEntry>* disks, DirectoryTail* tail) {
  disks->clear();
  *tail = DirectoryTail();
  const std::int64_t fileEnd = source.size() >= 0 ? source.size() : kNoEnd;
  std::int64_t offset = 0;
  for (;;) {
    const std::uint8_t* bytes = nullptr;
    std::size_t got = 0;
    Status s = source.view(offset, kDiskHeaderSize, &bytes, &got);
    if (!s.ok()) return s;
    if (got < static_cast<std::size_t>(kDiskHeaderSize)) {
      // Too few bytes for a header: they belong to no disk.
      if (!disks->empty()) tail->trailingBytes = static_cast<std::int64_t>(got);
      break;
    }
    // The header is looked at only to say that it is there: a file of more
    // disks than the reader takes is not listed as if it ended here.
    if (disks->size() == static_cast<std::size_t>(kMaxDisks)) {
      tail->disksNotRead = true;
      break;
    }
    DiskEntry disk;
    disk.offset = offset;
    std::memcpy(disk.header.data(), bytes, disk.header.size());
    // Until a next disk is found, a disk's records run to the end of the file.
    disk.end = fileEnd;
    if (!disks->empty()) disks->back().end = offset;
    disks->push_back(disk);
    const std::uint32_t size = readLE32(bytes + kDiskSizeOffset);
    if (size < static_cast<std::uint32_t>(kDiskHeaderSize)) break;
    offset += size;
    // Bytes after the last disk the reader looks at belong to no disk.
    if (disks->size() == static_cast<std::size_t>(kMaxDisks)) {
      disks->back().end = std::min(offset, fileEnd);
    }
  }
  return Status();
}

DiskHeaderFields decodeDiskHeader(const std::uint8_t* header) {
  DiskHeaderFields fields;
  for (int i = 0; i < kNameLength && header[kNameOffset + i] != 0; ++i) {
    fields.name[i] = static_cast<char>(header[kNameOffset + i]);
  }
  fields.writeProtect = header[kWriteProtectOffset];
  fields.mediaType = header[kMediaTypeOffset];
  fields.size = readLE32(header + kDiskSizeOffset);
  // Many real images have a table of only 154 or 160 entries: their first
  // track starts inside the 688 bytes, and the slots from there on hold
  // sector data. The first track's offset marks where the table ends.
  for (int t = 0; t < kTrackCount; ++t) {
    const std::uint32_t entry = readLE32(header + kTrackTableOffset + kTrackEntrySize * t);
    if (entry != 0) {
      fields.firstTrack = t;
      fields.firstEntry = entry;
      if (entry < fields.tableEnd) fields.tableEnd = entry;
      break;
    }
  }
  for (int t = 0; t < kTrackCount; ++t) {
    const auto slot = static_cast<std::uint32_t>(kTrackTableOffset + kTrackEntrySize * t);
    fields.tracks[static_cast<std::size_t>(t)] =
        slot + kTrackEntrySize <= fields.tableEnd ? readLE32(header + slot) : 0;
  }
  return fields;
}

}  // namespace d88
