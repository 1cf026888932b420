#include "d88_check.h"

#include <algorithm>
#include <vector>

#include "byte_source.h"
#include "d88_layout.h"

namespace d88 {
namespace {

// Bytes of the file; of a stream, its length when it ends within
// kCheckWindowBytes and `until` (read to find out), else -1: not known.
std::int64_t fileEndUpTo(ByteSource& source, std::int64_t until) {
  if (source.size() >= 0) return source.size();
  const std::int64_t look = std::min(until, kCheckWindowBytes);
  std::size_t got = 0;
  if (!source.available(0, static_cast<std::size_t>(look), &got).ok()) return -1;
  return static_cast<std::int64_t>(got) < look ? static_cast<std::int64_t>(got) : -1;
}

}  // namespace

bool firstHeaderLooksWrong(ByteSource& source, const DiskEntry& first, std::string* why) {
  const std::uint8_t* header = first.header.data();
  if (std::all_of(first.header.begin(), first.header.end(), [](std::uint8_t b) { return b == 0; })) {
    *why = "its first disk header is all zero bytes";
    return true;
  }
  const DiskHeaderFields fields = decodeDiskHeader(header);
  // The furthest point the header claims: the disk's end, or a track's start.
  std::int64_t claimed = first.offset + fields.size;
  for (std::uint32_t entry : fields.tracks) {
    claimed = std::max<std::int64_t>(claimed, first.offset + entry + 1);
  }
  const std::int64_t fileEnd = fileEndUpTo(source, claimed);

  std::vector<std::string> broken;
  if (fields.size < static_cast<std::uint32_t>(kDiskHeaderSize)) {
    broken.push_back("the size field, " + std::to_string(fields.size) +
                     ", is smaller than a disk header");
  } else if (fileEnd >= 0 && first.offset + fields.size > fileEnd) {
    broken.push_back("the size field, " + std::to_string(fields.size) +
                     ", is larger than the file");
  }
  if (fields.writeProtect != 0x00 && fields.writeProtect != kWriteProtected) {
    broken.push_back("the write-protect byte is " + hexByte(fields.writeProtect) +
                     ", not 0x00 or 0x10");
  }
  if (!isKnownMedia(fields.mediaType)) {
    broken.push_back("the media byte " + hexByte(fields.mediaType) + " is unknown");
  }
  // The table ends where the first track begins; an entry inside what is
  // left of the header points back into it. The first entry that is not 0
  // sets that end, so it points back when it points before its own slot's
  // end: the table would then end before the entry itself.
  const auto slotEnd = [](int t) {
    return static_cast<std::uint32_t>(kTrackTableOffset + kTrackEntrySize * (t + 1));
  };
  // A file cut off before the end its size field gives explains tracks
  // past its end, up to that size: those are truncation, not another rule.
  const bool cutOff = fileEnd >= 0 && first.offset + fields.size > fileEnd;
  if (fields.firstTrack >= 0 && fields.firstEntry < slotEnd(fields.firstTrack)) {
    broken.push_back("track " + std::to_string(fields.firstTrack) +
                     " points back into the track table");
  } else {
    for (int t = 0; t < kTrackCount; ++t) {
      const std::uint32_t entry = fields.tracks[static_cast<std::size_t>(t)];
      if (entry == 0) continue;
      if (entry < slotEnd(t) || entry < fields.tableEnd) {
        broken.push_back("track " + std::to_string(t) + " points back into the track table");
        break;
      }
      const bool pastEnd = cutOff ? entry > fields.size
                                  : fileEnd >= 0 && first.offset + entry >= fileEnd;
      if (pastEnd) {
        broken.push_back("track " + std::to_string(t) + " points past the end of the file");
        break;
      }
    }
  }
  if (broken.size() < 2) return false;
  std::string list;
  for (const std::string& b : broken) list += (list.empty() ? "" : "; ") + b;
  *why = "its first disk header breaks " + std::to_string(broken.size()) +
         " of the format's rules (" + list + ")";
  return true;
}

}  // namespace d88
