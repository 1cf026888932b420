#include "content_fingerprint.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>


namespace d88 {
namespace {

void putLE16(std::uint8_t* out, std::uint32_t value) {
  out[0] = static_cast<std::uint8_t>(value);
  out[1] = static_cast<std::uint8_t>(value >> 8);
}

void putLE32(std::uint8_t* out, std::uint32_t value) {
  putLE16(out, value);
  putLE16(out + 2, value >> 16);
}

// Bytes of a track's head in the stream: track index (2), record count (4).
constexpr std::size_t kTrackHeadBytes = 6;
// Bytes of a record's head: C, H, R, N, density, deleted mark, status (7),
// data length (4).
constexpr std::size_t kRecordHeadBytes = 11;
// Where a record's data length stands in its head.
constexpr std::size_t kRecordLengthAt = 7;
// The most data bytes a record holds: its size field is 16 bits.
constexpr std::int32_t kMaxRecordData = 0xFFFF;

}  // namespace

Status contentSha256(Image& image, int disk, Sha256Digest* digest) {
  if (!image.selectDisk(disk).ok()) {
    if (!image.readFailure().ok()) return image.readFailure();
    return Status::notFound("no disk " + std::to_string(disk) + " (the image holds " +
                            std::to_string(image.disks().size()) + ")");
  }
  Sha256 hash;
  std::vector<std::uint8_t> data(static_cast<std::size_t>(kMaxRecordData));
  std::vector<std::size_t> order;
  order.reserve(kMaxTrackRecords);
  for (int t = 0; t < kTrackCount; ++t) {
    const TrackWalk walk = image.walkTrack(t);
    if (walk.end == TrackEnd::kReadError) return walk.error;
    if (walk.records.empty()) continue;
    std::uint8_t head[kRecordHeadBytes];
    putLE16(head, static_cast<std::uint32_t>(t));
    putLE32(head + 2, static_cast<std::uint32_t>(walk.records.size()));
    if (!hash.update(head, kTrackHeadBytes)) return hash.status();

    // By identity; records of one identity keep their record order.
    orderByIdentity(walk.records, &order);
    for (std::size_t i : order) {
      const SectorRecord& record = walk.records[i];
      const std::int32_t length = std::max<std::int32_t>(record.dataAvailable, 0);
      head[0] = record.id.c;
      head[1] = record.id.h;
      head[2] = record.id.r;
      head[3] = record.id.n;
      head[4] = record.density;
      head[5] = record.deletedMark;
      head[6] = record.status;
      putLE32(head + kRecordLengthAt, static_cast<std::uint32_t>(length));
      if (!hash.update(head, kRecordHeadBytes)) return hash.status();
      if (length == 0) continue;
      std::int32_t got = 0;
      const Status read = image.readRecord(record, data.data(), kMaxRecordData, &got);
      if (got != length) {
        if (!read.ok()) return read;
        return Status::corruption("the data of " +
                                  sectorAddressText({t, record.id.c, record.id.h, record.id.r,
                                                     record.id.n}) +
                                  " could not be read whole");
      }
      if (!hash.update(data.data(), static_cast<std::size_t>(got))) return hash.status();
    }
  }
  // A read that failed on the way, even where no walk reported it.
  if (!image.readFailure().ok()) return image.readFailure();
  Sha256Digest result;
  if (!hash.finish(&result)) return hash.status();
  *digest = result;
  return Status();
}

std::string hexDigest(const Sha256Digest& digest) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(digest.size() * 2);
  for (std::uint8_t byte : digest) {
    out += kDigits[byte >> 4];
    out += kDigits[byte & 0x0F];
  }
  return out;
}

}  // namespace d88
