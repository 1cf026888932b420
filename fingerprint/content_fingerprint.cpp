#include "content_fingerprint.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <system_error>
#include <thread>
#include <unordered_map>
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

// Record data read ahead of hashing at most: the calling thread reads a
// batch of records' data up to this many bytes, then hashes it with one
// helper thread. A record holds at most 65,535 bytes, so a batch holds at
// least 64 of them.
constexpr std::size_t kBatchBytes = std::size_t{4} << 20;
// A batch smaller than this is hashed by the calling thread alone: starting
// a thread costs more than it saves there.
constexpr std::size_t kSplitBatchBytes = std::size_t{256} << 10;

// The data of one record, however many walks reach it (one place in the
// file), and the digest of its bytes once hashed.
struct RecordData {
  std::uint32_t walk = 0;   // the first walk that reached it
  std::uint32_t index = 0;  // its position in that walk
  std::size_t size = 0;     // bytes the disk holds for it
  std::size_t at = 0;       // where its bytes stand in the batch buffer
  Sha256Digest digest{};
};

// A track whose walk gave records: those records, and for each its data's
// position among the RecordData.
struct WalkedTrack {
  int track = 0;
  std::vector<SectorRecord> records;
  std::vector<std::uint32_t> data;
};

// Hashes the bytes of table[i] for each i of [first, last), from `buffer`,
// into its digest, restarting `hash` for each: a new hash object costs more
// than a small record's hash.
Status hashRecords(const std::uint32_t* first, const std::uint32_t* last,
                   std::vector<RecordData>& table, const std::uint8_t* buffer, Sha256& hash) {
  for (; first != last; ++first) {
    RecordData& data = table[*first];
    if (!hash.restart() || !hash.update(buffer + data.at, data.size) ||
        !hash.finish(&data.digest)) {
      return hash.status();
    }
  }
  return Status();
}

// Joins the thread it holds when it goes, whatever the way out.
struct JoinedThread {
  std::thread thread;
  ~JoinedThread() { join(); }
  void join() {
    if (thread.joinable()) thread.join();
  }
};

// Reads records' data into a batch as their walks find them, and hashes a
// batch when it is full, on two threads: this one, which alone calls the
// image, and a helper.
class RecordHasher {
 public:
  // `hash` is the calling thread's hash object, restarted for each record.
  RecordHasher(Image& image, const std::vector<WalkedTrack>& walked,
               std::vector<RecordData>& table, Sha256& hash)
      : image_(image), walked_(walked), table_(table), hash_(hash) {}

  // Reads the bytes of table[i] into the batch, hashing the batch first when
  // they would not fit; a record that holds no bytes takes the digest of
  // nothing, made once.
  Status add(std::uint32_t i) {
    RecordData& data = table_[i];
    if (data.size == 0) {
      if (!haveEmpty_) {
        if (!hash_.restart() || !hash_.finish(&empty_)) return hash_.status();
        haveEmpty_ = true;
      }
      data.digest = empty_;
      return Status();
    }
    if (used_ + data.size > kBatchBytes) {
      const Status hashed = flush();
      if (!hashed.ok()) return hashed;
    }
    // Every byte of it is written before it is hashed: left uninitialised.
    if (!buffer_) buffer_.reset(new std::uint8_t[kBatchBytes]);
    const SectorRecord& record = walked_[data.walk].records[data.index];
    const auto length = static_cast<std::int32_t>(data.size);
    std::int32_t got = 0;
    const Status read = image_.readRecord(record, buffer_.get() + used_, length, &got);
    if (got != length) {
      if (!read.ok()) return read;
      return Status::corruption(
          "the data of " +
          sectorAddressText({walked_[data.walk].track, record.id.c, record.id.h, record.id.r,
                             record.id.n}) +
          " could not be read whole");
    }
    data.at = used_;
    used_ += data.size;
    batch_.push_back(i);
    return Status();
  }

  // Hashes the records read and not yet hashed: those of its first half (by
  // bytes) on this thread, the rest on a helper when the batch is large
  // enough to gain from one and a thread can be started.
  Status flush() {
    const std::uint32_t* first = batch_.data();
    const std::uint32_t* last = first + batch_.size();
    const std::uint8_t* buffer = buffer_.get();
    const std::size_t bytes = used_;
    batch_.clear();  // keeps its storage, which the hashing below reads
    used_ = 0;
    if (bytes < kSplitBatchBytes || last - first < 2) {
      return hashRecords(first, last, table_, buffer, hash_);
    }
    if (!helperHash_) helperHash_.reset(new Sha256);
    const std::uint32_t* middle = first;
    for (std::size_t sum = 0; middle != last && sum < bytes / 2; ++middle) {
      sum += table_[*middle].size;
    }
    Status helped;
    bool helperOutOfMemory = false;
    Sha256& helperHash = *helperHash_;
    std::vector<RecordData>& table = table_;
    JoinedThread helper;
    try {
      helper.thread = std::thread([middle, last, &table, buffer, &helperHash, &helped,
                                   &helperOutOfMemory] {
        try {
          helped = hashRecords(middle, last, table, buffer, helperHash);
        } catch (const std::bad_alloc&) {
          helperOutOfMemory = true;  // a failure's text could not be kept
        }
      });
    } catch (const std::system_error&) {
      return hashRecords(first, last, table_, buffer, hash_);
    }
    const Status own = hashRecords(first, middle, table_, buffer, hash_);
    helper.join();
    if (!own.ok()) return own;
    if (helperOutOfMemory) return Status::outOfMemory("SHA-256: no memory left");
    return helped;
  }

 private:
  Image& image_;
  const std::vector<WalkedTrack>& walked_;
  std::vector<RecordData>& table_;
  Sha256& hash_;
  std::unique_ptr<Sha256> helperHash_;  // made when a batch is first split
  std::unique_ptr<std::uint8_t[]> buffer_;  // kBatchBytes, made when first needed
  std::size_t used_ = 0;
  std::vector<std::uint32_t> batch_;  // table positions of the records read
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
  // One hash object for every hash this thread makes: see hashRecords().
  Sha256 hash;
  RecordHasher hasher(image, walked, table, hash);
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
      data.walk = w;
      data.index = static_cast<std::uint32_t>(i);
      data.size = static_cast<std::size_t>(std::max<std::int32_t>(record.dataAvailable, 0));
      table.push_back(data);
      const Status added = hasher.add(track.data[i]);
      if (!added.ok()) return added;
    }
  }
  const Status hashed = hasher.flush();
  if (!hashed.ok()) return hashed;

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

  // The disk: every track with records, in track order.
  if (!hash.restart()) return hash.status();
  for (int t = 0; t < kTrackCount; ++t) {
    const int w = walkOf[static_cast<std::size_t>(t)];
    if (w < 0) continue;
    const auto at = static_cast<std::size_t>(w);
    std::uint8_t item[kTrackItemBytes];
    putLE16(item, static_cast<std::uint32_t>(t));
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
