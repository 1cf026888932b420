#include "content_fingerprint.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <unordered_map>
#include <vector>

#include <d88/disk_layout.h>

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

// Bytes of a track in the disk's stream: track index (2), record count (4),
// the track's digest (32).
constexpr std::size_t kTrackItemBytes = 2 + 4 + 32;
// Where the track's digest stands in it.
constexpr std::size_t kTrackDigestAt = 6;
// Bytes of a record in its track's stream: C, H, R, N, density, deleted
// mark, status (7), data length (4), the data's digest (32).
constexpr std::size_t kRecordItemBytes = 7 + 4 + 32;
// Where the data length and the data's digest stand in it.
constexpr std::size_t kRecordLengthAt = 7;
constexpr std::size_t kRecordDigestAt = 11;

// The most data bytes a record holds: its size field is 16 bits.
constexpr std::size_t kMaxRecordData = 0xFFFF;

// The data of one record, however many walks reach it (one place in the
// file), and the digest of its bytes.
struct RecordData {
  std::size_t size = 0;  // bytes the disk holds for it
  Sha256Digest digest{};
};

// A track whose walk gave records: those records, and for each its data's
// position among the RecordData.
struct WalkedTrack {
  int track = 0;
  std::vector<SectorRecord> records;
  std::vector<std::uint32_t> data;
};

// Reads each record's data and hashes it at once, while its bytes are still
// in the processor's cache, restarting one hash object for each record: a
// new hash object costs more than a small record's hash.
class RecordHasher {
 public:
  RecordHasher(Image& image, Sha256& hash) : image_(image), hash_(hash) {}

  // Hashes the bytes the disk holds for `record` of track `track` into
  // data->digest; an empty record takes the digest of nothing, made once.
  Status hash(int track, const SectorRecord& record, RecordData* data) {
    if (data->size == 0) {
      if (!haveEmpty_) {
        if (!hash_.restart() || !hash_.finish(&empty_)) return hash_.status();
        haveEmpty_ = true;
      }
      data->digest = empty_;
      return Status();
    }
    if (!buffer_) {
      buffer_.reset(new (std::nothrow) std::uint8_t[kMaxRecordData]);
      if (!buffer_) return Status::outOfMemory("cannot hold a record's data to hash");
    }
    const auto length = static_cast<std::int32_t>(data->size);
    std::int32_t got = 0;
    const Status read = image_.readRecord(record, buffer_.get(), length, &got);
    if (got != length) {
      if (!read.ok()) return read;
      return Status::corruption(
          "the data of " +
          sectorAddressText({track, record.id.c, record.id.h, record.id.r, record.id.n}) +
          " could not be read whole");
    }
    if (!hash_.restart() || !hash_.update(buffer_.get(), data->size) ||
        !hash_.finish(&data->digest)) {
      return hash_.status();
    }
    return Status();
  }

 private:
  Image& image_;
  Sha256& hash_;
  std::unique_ptr<std::uint8_t[]> buffer_;  // kMaxRecordData, made when first needed
  Sha256Digest empty_{};
  bool haveEmpty_ = false;
};

}  // namespace

Status contentSha256(Image& image, int disk, Sha256Digest* digest) {
  if (!image.selectDisk(disk).ok()) {
    if (!image.readFailure().ok()) return image.readFailure();
    return Status::notFound("no disk " + std::to_string(disk) + " (the image holds " +
                            std::to_string(image.disks().size()) + ")");
  }
  const Disk& selected = image.disk();

  // Every track's walk, once for each place the table points at, and each
  // record's data once, however many walks reach it: the bytes hashed never
  // pass the file's size, whatever the table claims. The data is read just
  // after its walk, while the image still holds those bytes.
  std::vector<WalkedTrack> walked;
  walked.reserve(kTrackCount);
  std::array<int, kTrackCount> walkOf;  // a track's entry in `walked`; -1 for no records
  walkOf.fill(-1);
  std::vector<RecordData> table;
  std::unordered_map<std::int64_t, std::uint32_t> dataAt;  // header offset -> table position
  // One hash object for every hash: see RecordHasher.
  Sha256 hash;
  RecordHasher hasher(image, hash);
  for (int t = 0; t < kTrackCount; ++t) {
    const int same = sameRecordsAs(selected, t);
    if (same >= 0) {
      walkOf[static_cast<std::size_t>(t)] = walkOf[static_cast<std::size_t>(same)];
      continue;
    }
    TrackWalk walk = image.walkTrack(t);
    if (walk.end == TrackEnd::kReadError) return walk.error;
    if (walk.records.empty()) continue;
    const auto w = static_cast<std::uint32_t>(walked.size());
    walkOf[static_cast<std::size_t>(t)] = static_cast<int>(w);
    walked.emplace_back();
    WalkedTrack& track = walked.back();
    track.track = t;
    track.records = std::move(walk.records);
    track.data.resize(track.records.size());
    for (std::size_t i = 0; i < track.records.size(); ++i) {
      const SectorRecord& record = track.records[i];
      const auto found =
          dataAt.emplace(record.headerOffset, static_cast<std::uint32_t>(table.size()));
      track.data[i] = found.first->second;
      if (!found.second) continue;
      RecordData data;
      data.size = static_cast<std::size_t>(std::max<std::int32_t>(record.dataAvailable, 0));
      const Status hashed = hasher.hash(t, record, &data);
      if (!hashed.ok()) return hashed;
      table.push_back(data);
    }
  }

  // Each walk's digest: its records by identity, twins in record order.
  std::vector<Sha256Digest> trackDigests(walked.size());
  std::vector<std::size_t> order;
  order.reserve(kMaxTrackRecords);
  for (std::size_t w = 0; w < walked.size(); ++w) {
    const WalkedTrack& track = walked[w];
    orderByIdentity(track.records, &order);
    if (!hash.restart()) return hash.status();
    for (std::size_t i : order) {
      const SectorRecord& record = track.records[i];
      const RecordData& data = table[track.data[i]];
      std::uint8_t item[kRecordItemBytes];
      item[0] = record.id.c;
      item[1] = record.id.h;
      item[2] = record.id.r;
      item[3] = record.id.n;
      item[4] = record.density;
      item[5] = record.deletedMark;
      item[6] = record.status;
      putLE32(item + kRecordLengthAt, static_cast<std::uint32_t>(data.size));
      std::copy(data.digest.begin(), data.digest.end(), item + kRecordDigestAt);
      if (!hash.update(item, sizeof item)) return hash.status();
    }
    if (!hash.finish(&trackDigests[w])) return hash.status();
  }

  // The disk: every track with records, in track order, each by its number
  // 2 x C + H, so that a one-sided disk hashes alike whichever slots keep
  // it; the walks are kept, so the layout reads nothing again. Slot order
  // is number order in every layout.
  const DiskLayout layout = diskLayout(image);
  if (!hash.restart()) return hash.status();
  for (int t = 0; t < kTrackCount; ++t) {
    const int w = walkOf[static_cast<std::size_t>(t)];
    if (w < 0) continue;
    const auto at = static_cast<std::size_t>(w);
    std::uint8_t item[kTrackItemBytes];
    putLE16(item, static_cast<std::uint32_t>(layout.trackNumber(t)));
    putLE32(item + 2, static_cast<std::uint32_t>(walked[at].records.size()));
    std::copy(trackDigests[at].begin(), trackDigests[at].end(), item + kTrackDigestAt);
    if (!hash.update(item, sizeof item)) return hash.status();
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
