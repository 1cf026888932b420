#include "raw_image.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <utility>

#include <d88/disk_layout.h>

#include "track_counts.h"

namespace d88 {
namespace {

// A record's data is at most this long (its size field is 16 bits).
constexpr std::size_t kMaxRecordBytes = 0xFFFF;
// Filler is written from a block of this size.
constexpr std::size_t kFillBlockBytes = 64 * 1024;

// The identity a track's sectors are expected to carry: C and H of its
// track number 2 x C + H.
bool isTracksCH(const SectorId& id, int number) {
  return id.c == number / 2 && id.h == number % 2;
}

std::string quoted(const std::string& ascii) { return "\"" + ascii + "\""; }

// Splits `text` from `from` on into `count` numbers separated by x, as in
// TxSxB. An x right after a part's leading 0 is either a separator or the
// start of a hex number: the reading that gives `count` numbers wins,
// separators first ("80x0x1024" is 80, 0, 1024; "80x16x0x100" is 80, 16,
// 0x100). False, with the parts of the last reading tried, when none does.
bool splitGeometry(const std::string& text, std::size_t from, std::size_t count,
                   std::vector<std::string>* parts) {
  const std::size_t before = parts->size();
  for (std::size_t scan : {from, from + 2}) {
    if (scan != from && text.compare(from, 2, "0x") != 0 && text.compare(from, 2, "0X") != 0) break;
    parts->resize(before);
    const std::size_t x = text.find_first_of("xX", scan);
    std::uint64_t ignored = 0;
    if (x == std::string::npos) {
      parts->push_back(text.substr(from));
      if (parts->size() == count && parseRawNumber(parts->back().c_str(), UINT32_MAX, &ignored)) {
        return true;
      }
      continue;
    }
    parts->push_back(text.substr(from, x - from));
    if (parts->size() < count && parseRawNumber(parts->back().c_str(), UINT32_MAX, &ignored) &&
        splitGeometry(text, x + 1, count, parts)) {
      return true;
    }
  }
  return false;
}

}  // namespace

bool splitNumbers(const std::string& text, std::size_t count, std::vector<std::string>* parts) {
  parts->clear();
  return count > 0 && splitGeometry(text, 0, count, parts) && parts->size() == count;
}

std::uint64_t rawImageBytes(const RawGeometry& g) {
  if (g.tracks <= 0 || g.sectors <= 0) return 0;
  return static_cast<std::uint64_t>(g.tracks) * static_cast<std::uint64_t>(g.sectors) *
         static_cast<std::uint64_t>(sectorBytes(g.sizeCode));
}

std::string geometryText(const RawGeometry& g) {
  return std::to_string(g.tracks) + (g.heads == 1 ? "x1x" : "x") + std::to_string(g.sectors) +
         "x" + std::to_string(sectorBytes(g.sizeCode));
}

bool parseRawNumber(const char* text, std::uint64_t max, std::uint64_t* value) {
  if (text == nullptr) return false;
  int base = 10;
  if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text += 2;
  }
  if (text[0] == '\0') return false;
  std::uint64_t v = 0;
  for (const char* p = text; *p != '\0'; ++p) {
    int digit = 0;
    if (*p >= '0' && *p <= '9') {
      digit = *p - '0';
    } else if (base == 16 && *p >= 'a' && *p <= 'f') {
      digit = *p - 'a' + 10;
    } else if (base == 16 && *p >= 'A' && *p <= 'F') {
      digit = *p - 'A' + 10;
    } else {
      return false;
    }
    if (v > (max - static_cast<std::uint64_t>(digit)) / static_cast<std::uint64_t>(base)) {
      return false;
    }
    v = v * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(digit);
  }
  *value = v;
  return true;
}

bool parseGeometry(const char* text, RawGeometry* geometry, std::string* why) {
  const std::string all = text != nullptr ? text : "";
  // TxSxB first, so that every text it took keeps its meaning.
  std::vector<std::string> parts;
  if (!splitNumbers(all, 3, &parts) && !splitNumbers(all, 4, &parts)) {
    *why = "expected TxSxB (tracks, sectors per track, bytes per sector, as in 80x16x256) "
           "or CxHxSxB (cylinders, heads, sectors, bytes, as in 40x1x16x256)";
    return false;
  }
  const bool withHeads = parts.size() == 4;
  std::uint64_t values[4] = {0, 2, 0, 0};
  const char* names[] = {withHeads ? "cylinders" : "tracks", "heads", "sectors", "bytes"};
  for (std::size_t i = 0, v = 0; i < parts.size(); ++i, ++v) {
    if (!withHeads && v == 1) ++v;
    if (!parseRawNumber(parts[i].c_str(), UINT32_MAX, &values[v])) {
      *why = std::string("the ") + names[v] + " are not a number (decimal, or hex after 0x)";
      return false;
    }
  }
  const std::uint64_t bytes = values[3];
  int sizeCode = -1;
  for (int n = 0; n <= kMaxSizeCode; ++n) {
    if (static_cast<std::uint64_t>(sectorBytes(n)) == bytes) sizeCode = n;
  }
  if (sizeCode < 0) {
    *why = "B must be 128 << n for n from 0 to " + std::to_string(kMaxSizeCode) +
           " (128, 256, 512, 1024, ...)";
    return false;
  }
  if (values[1] != 1 && values[1] != 2) {
    *why = "H must be 1 or 2 heads";
    return false;
  }
  const std::uint64_t heads = values[1];
  const std::uint64_t tracks = withHeads && heads == 2 ? values[0] * 2 : values[0];
  if (withHeads && (values[0] < 1 || tracks > static_cast<std::uint64_t>(kTrackCount))) {
    *why = "C must be 1 to " + std::to_string(kTrackCount / static_cast<int>(heads)) +
           " cylinders of " + std::to_string(heads) + (heads == 1 ? " head" : " heads");
    return false;
  }
  RawGeometry g = *geometry;
  g.tracks = static_cast<int>(std::min<std::uint64_t>(tracks, INT32_MAX));
  g.heads = static_cast<int>(heads);
  g.sectors = static_cast<int>(std::min<std::uint64_t>(values[2], INT32_MAX));
  g.sizeCode = sizeCode;
  if (!checkGeometry(g, why)) return false;
  *geometry = g;
  return true;
}

bool checkGeometry(const RawGeometry& g, std::string* why) {
  if (g.heads != 1 && g.heads != 2) {
    *why = "H must be 1 or 2 heads";
    return false;
  }
  if (g.heads == 1 && (g.tracks < 1 || g.tracks > kTrackCount)) {
    *why = "C must be 1 to " + std::to_string(kTrackCount) + " cylinders of 1 head";
    return false;
  }
  if (g.tracks < 1 || g.tracks > kTrackCount) {
    *why = "T must be 1 to " + std::to_string(kTrackCount) + " tracks";
    return false;
  }
  if (g.sectors < 1 || g.sectors > kMaxRawSectors) {
    *why = "S must be 1 to " + std::to_string(kMaxRawSectors) + " sectors";
    return false;
  }
  if (g.firstR < 0 || g.firstR + g.sectors - 1 > 0xFF) {
    *why = "sectors " + std::to_string(g.firstR) + " to " + std::to_string(g.firstR + g.sectors - 1) +
           " do not fit R, a number from 0 to 255";
    return false;
  }
  if (g.sizeCode < 0 || g.sizeCode > kMaxSizeCode) {
    *why = "the size code must be 0 to " + std::to_string(kMaxSizeCode);
    return false;
  }
  if (rawImageBytes(g) > kMaxRawBytes) {
    *why = geometryText(g) + " makes " + std::to_string(rawImageBytes(g)) +
           " bytes; a raw image is at most " + std::to_string(kMaxRawBytes) + " bytes (" +
           std::to_string(kMaxRawBytes / (1024 * 1024)) + " MiB)";
    return false;
  }
  return true;
}

RawGeometry usualGeometry(Image& image) {
  RawGeometry g;
  const DiskLayout layout = diskLayout(image);
  g.heads = layout.heads;
  for (int t = kTrackCount - 1; t >= 0; --t) {
    if (image.disk().tracks[static_cast<std::size_t>(t)] != 0) {
      g.tracks = layout.heads == 1 ? layout.cylinderOf(t) + 1 : t + 1;
      break;
    }
  }
  const TrackCounts counts = countTracks(image);
  if (counts.tracks == 0) return g;
  g.sizeCode = counts.usualSizeCode;
  // Tracks by their first and last sector number; the walks are kept from
  // countTracks(), so this walks nothing again.
  std::map<std::pair<int, int>, int> ranges;
  for (int t = 0; t < kTrackCount; ++t) {
    if (!trackEntryInDisk(image.disk().tracks[static_cast<std::size_t>(t)], image.disk().size)) continue;
    const TrackWalk walk = image.walkTrack(t);
    if (walk.records.empty()) continue;
    int first = 0xFF;
    int last = 0;
    for (const SectorRecord& record : walk.records) {
      first = std::min<int>(first, record.id.r);
      last = std::max<int>(last, record.id.r);
    }
    ++ranges[{first, last}];
  }
  // The first of the largest count: the lowest range on a tie.
  const auto usual = std::max_element(
      ranges.begin(), ranges.end(),
      [](const auto& a, const auto& b) { return a.second < b.second; });
  g.firstR = usual->first.first;
  g.sectors = usual->first.second - usual->first.first + 1;
  return g;
}

const char* rawKindName(RawKind kind) {
  switch (kind) {
    case RawKind::kMissing:
      return "missing";
    case RawKind::kShort:
      return "short";
    case RawKind::kMarkedBad:
      return "marked bad";
    case RawKind::kOtherCH:
      return "other C/H";
    case RawKind::kTwin:
      return "twin";
    case RawKind::kExtra:
      return "extra";
    case RawKind::kOtherSize:
      return "other size";
    case RawKind::kOtherTrack:
      return "other track";
  }
  return "?";
}

std::vector<std::string> rawStatusWords(const RawEntry& entry) {
  if (!entry.hasRecord) return {"not in the image"};
  const SectorRecord& r = entry.record;
  std::vector<std::string> words{statusMeaning(r.status)};
  if (isDeletedData(r) && r.status != kStatusDeletedData) words.emplace_back("deleted data");
  if (r.dataAvailable < sectorBytes(r.id.n)) words.emplace_back("short");
  if (!isTracksCH(r.id, entry.track)) words.emplace_back("C/H not the track's");
  return words;
}

std::string rawEntryJson(const RawEntry& entry) {
  std::string out = "{\"track\":" + std::to_string(entry.track) +
                    ",\"c\":" + std::to_string(entry.id.c) + ",\"h\":" + std::to_string(entry.id.h) +
                    ",\"r\":" + std::to_string(entry.id.r) + ",\"n\":" + std::to_string(entry.id.n) +
                    ",\"kind\":" + quoted(rawKindName(entry.kind));
  if (entry.offset >= 0) {
    out += ",\"offset\":" + std::to_string(entry.offset) + ",\"bytes\":" + std::to_string(entry.bytes);
  }
  out += ",\"status\":[";
  const std::vector<std::string> words = rawStatusWords(entry);
  for (std::size_t i = 0; i < words.size(); ++i) {
    // The words are ASCII and hold no quote or backslash.
    out += (i == 0 ? "" : ",") + quoted(words[i]);
  }
  return out + "]}";
}

bool RawSummary::whole() const {
  if (headOneLost) return false;
  for (int k = 0; k < kRawKinds; ++k) {
    if (static_cast<RawKind>(k) != RawKind::kOtherCH && counts[static_cast<std::size_t>(k)] != 0) {
      return false;
    }
  }
  return true;
}

namespace {

// One conversion: the buffers it holds and what it has found so far.
class Converter {
 public:
  Converter(Image& image, const RawGeometry& g, std::uint8_t fill, RawSink& sink)
      : image_(image), g_(g), sink_(sink), sectorSize_(sectorBytes(g.sizeCode)),
        layout_(diskLayout(image)) {
    std::memset(fillBlock_, fill, sizeof fillBlock_);
  }

  RawSummary run() {
    const std::uint8_t media = image_.disk().mediaType;
    summary_.headOneLost = g_.heads == 1 && layout_.heads == 1 &&
                           (media == kMedia2D || media == kMedia2DD || media == kMedia2HD);
    for (int i = 0; i < g_.tracks && !summary_.stopped && summary_.failure.ok(); ++i) track(i);
    // The slots whose tracks the raw image has no place for: past its last
    // track, or of the head that a one-head image leaves out.
    for (int t = 0; t < kTrackCount && !summary_.stopped && summary_.failure.ok(); ++t) {
      const int number = layout_.trackNumber(t);
      const bool inImage = g_.heads == 1 ? number % 2 == 0 && number / 2 < g_.tracks
                                         : number < g_.tracks;
      if (!inImage) beyond(t);
    }
    return summary_;
  }

 private:
  // Counts `entry` under `kind` (the first of each is kept); with `send`, passes it to the sink.
  void note(RawKind kind, const RawEntry& entry, bool send) {
    const auto k = static_cast<std::size_t>(kind);
    if (summary_.counts[k]++ == 0) summary_.first[k] = entry;
    if (send && !summary_.stopped && !sink_.entry(entry)) summary_.stopped = true;
  }

  bool out(const std::uint8_t* data, std::size_t size) {
    if (summary_.stopped) return false;
    if (!sink_.write(data, size)) {
      summary_.stopped = true;
      return false;
    }
    summary_.bytes += size;
    return true;
  }

  bool fill(std::uint64_t size) {
    while (size > 0) {
      const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(size, sizeof fillBlock_));
      if (!out(fillBlock_, n)) return false;
      size -= n;
    }
    return true;
  }

  // Names the records of a track past the geometry's last.
  void beyond(int t) {
    if (!trackEntryInDisk(image_.disk().tracks[static_cast<std::size_t>(t)], image_.disk().size)) return;
    const TrackWalk walk = image_.walkTrack(t);
    if (walk.end == TrackEnd::kReadError) {
      summary_.failure = walk.error;
      return;
    }
    for (const SectorRecord& record : walk.records) {
      RawEntry e;
      e.kind = RawKind::kOtherTrack;
      e.track = layout_.trackNumber(t);
      e.id = record.id;
      e.hasRecord = true;
      e.record = record;
      note(e.kind, e, true);
    }
  }

  // Raw track `rawTrack`: the disk's track number g_.trackNumber(rawTrack),
  // from the slot that the layout keeps it in; all filler when it keeps none.
  void track(int rawTrack) {
    const int number = g_.trackNumber(rawTrack);
    const int t = layout_.slotOf(number);
    TrackWalk walk;
    if (t >= 0 && image_.disk().tracks[static_cast<std::size_t>(t)] != 0) {
      walk = image_.walkTrack(t);
      if (walk.end == TrackEnd::kReadError) {
        summary_.failure = walk.error;
        return;
      }
    }
    const std::vector<SectorRecord>& records = walk.records;
    // The record that fills each sector of the track: the first with its R
    // and the geometry's size code.
    std::array<int, kMaxRawSectors + 1> slot;
    slot.fill(-1);
    const int lastR = g_.firstR + g_.sectors - 1;
    for (std::size_t i = 0; i < records.size(); ++i) {
      const SectorId& id = records[i].id;
      if (id.r < g_.firstR || id.r > lastR || id.n != g_.sizeCode) continue;
      int& s = slot[static_cast<std::size_t>(id.r - g_.firstR)];
      if (s < 0) s = static_cast<int>(i);
    }
    const std::int64_t trackStart = static_cast<std::int64_t>(rawTrack) * g_.sectors * sectorSize_;
    for (int s = 0; s < g_.sectors; ++s) {
      RawEntry e;
      e.track = number;
      e.offset = trackStart + static_cast<std::int64_t>(s) * sectorSize_;
      const int index = slot[static_cast<std::size_t>(s)];
      if (index < 0) {
        e.kind = RawKind::kMissing;
        e.id = SectorId{static_cast<std::uint8_t>(number / 2), static_cast<std::uint8_t>(number % 2),
                        static_cast<std::uint8_t>(g_.firstR + s),
                        static_cast<std::uint8_t>(g_.sizeCode)};
        note(RawKind::kMissing, e, true);
        if (!fill(static_cast<std::uint64_t>(sectorSize_))) return;
      } else {
        const SectorRecord& record = records[static_cast<std::size_t>(index)];
        e.hasRecord = true;
        e.record = record;
        e.id = record.id;
        const std::int32_t want = std::min<std::int32_t>(
            sectorSize_, std::min<std::int32_t>(record.dataAvailable,
                                                static_cast<std::int32_t>(kMaxRecordBytes)));
        std::int32_t got = 0;
        const Status read = image_.readRecord(record, data_, want, &got);
        if (got < want) {
          summary_.failure = read.ok() ? shortRecordStatus(record, want) : read;
          return;
        }
        e.bytes = got;
        const bool isShort = got < sectorSize_;
        const bool bad = isMarkedBad(record.status);
        const bool otherCH = !isTracksCH(record.id, number);
        e.kind = isShort ? RawKind::kShort
                 : bad   ? RawKind::kMarkedBad
                         : RawKind::kOtherCH;
        bool sent = false;
        if (isShort) {
          note(RawKind::kShort, e, !sent);
          sent = true;
        }
        if (bad) {
          note(RawKind::kMarkedBad, e, !sent);
          sent = true;
        }
        if (otherCH) note(RawKind::kOtherCH, e, !sent);
        if (!out(data_, static_cast<std::size_t>(got))) return;
        if (!fill(static_cast<std::uint64_t>(sectorSize_ - got))) return;
      }
      ++summary_.sectors;
    }
    // The records the raw image cannot hold, in record order.
    for (std::size_t i = 0; i < records.size(); ++i) {
      const SectorRecord& record = records[i];
      const SectorId& id = record.id;
      RawEntry e;
      e.track = number;
      e.id = id;
      e.hasRecord = true;
      e.record = record;
      if (id.r < g_.firstR || id.r > lastR) {
        e.kind = RawKind::kExtra;
      } else if (id.n != g_.sizeCode) {
        e.kind = RawKind::kOtherSize;
      } else if (slot[static_cast<std::size_t>(id.r - g_.firstR)] != static_cast<int>(i)) {
        e.kind = RawKind::kTwin;
      } else {
        continue;
      }
      note(e.kind, e, true);
    }
  }

  Image& image_;
  const RawGeometry g_;
  RawSink& sink_;
  const std::int32_t sectorSize_;
  const DiskLayout layout_;
  RawSummary summary_;
  std::uint8_t data_[kMaxRecordBytes];
  std::uint8_t fillBlock_[kFillBlockBytes];
};

}  // namespace

RawSummary convertToRaw(Image& image, const RawGeometry& geometry, std::uint8_t fill,
                        RawSink& sink) {
  // The buffers are large for a stack: the converter lives on the heap.
  auto converter = std::make_unique<Converter>(image, geometry, fill, sink);
  return converter->run();
}

}  // namespace d88
