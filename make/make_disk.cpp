#include "make_disk.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "json_reader.h"
#include "raw_image.h"

namespace d88 {
namespace {

// The window the raw image is read through.
constexpr std::size_t kRawWindowBytes = 64 * 1024;

struct MediaName {
  const char* word;
  std::uint8_t media;
};
constexpr MediaName kMediaNames[] = {
    {"2D", kMedia2D}, {"2DD", kMedia2DD}, {"2HD", kMedia2HD}, {"1D", kMedia1D}, {"1DD", kMedia1DD},
};

// The status byte whose words statusMeaning() gives as `word`; false for none.
bool statusOfWords(const std::string& word, std::uint8_t* status) {
  for (unsigned b = 0; b <= 0xFF; ++b) {
    if (statusMeaning(static_cast<std::uint8_t>(b)) == word) {
      *status = static_cast<std::uint8_t>(b);
      return true;
    }
  }
  return false;
}

// An integer member of `object` within [low, high]; false when it is not one.
bool integerMember(const JsonNode& object, const char* key, std::int64_t low, std::int64_t high,
                   std::int64_t* value) {
  const JsonNode* node = object.member(key);
  if (node == nullptr || !node->isInteger || node->integer < low || node->integer > high) {
    return false;
  }
  *value = node->integer;
  return true;
}

}  // namespace

std::uint64_t makeRawBytes(const MakeGeometry& g) {
  if (g.cylinders <= 0 || g.heads <= 0 || g.sectors <= 0) return 0;
  return static_cast<std::uint64_t>(g.cylinders) * static_cast<std::uint64_t>(g.heads) *
         static_cast<std::uint64_t>(g.sectors) * static_cast<std::uint64_t>(sectorBytes(g.sizeCode));
}

std::string makeGeometryText(const MakeGeometry& g) {
  return std::to_string(g.cylinders) + "x" + std::to_string(g.heads) + "x" +
         std::to_string(g.sectors) + "x" + std::to_string(sectorBytes(g.sizeCode));
}

bool parseMakeGeometry(const char* text, MakeGeometry* geometry, std::string* why) {
  std::vector<std::string> parts;
  if (!splitNumbers(text != nullptr ? text : "", 4, &parts)) {
    *why = "expected CxHxSxB: cylinders, heads, sectors per track and bytes per sector, as in "
           "77x2x8x1024";
    return false;
  }
  std::uint64_t v[4] = {};
  for (std::size_t i = 0; i < 4; ++i) (void)parseRawNumber(parts[i].c_str(), UINT32_MAX, &v[i]);
  int sizeCode = -1;
  for (int n = 0; n <= kMaxSizeCode; ++n) {
    if (static_cast<std::uint64_t>(sectorBytes(n)) == v[3]) sizeCode = n;
  }
  if (sizeCode < 0) {
    *why = "B must be 128 << n (128, 256, 512, 1024, ..., 32768)";
    return false;
  }
  MakeGeometry g = *geometry;
  g.cylinders = static_cast<int>(std::min<std::uint64_t>(v[0], INT32_MAX));
  g.heads = static_cast<int>(std::min<std::uint64_t>(v[1], INT32_MAX));
  g.sectors = static_cast<int>(std::min<std::uint64_t>(v[2], INT32_MAX));
  g.sizeCode = sizeCode;
  if (!checkMakeGeometry(g, why)) return false;
  *geometry = g;
  return true;
}

bool checkMakeGeometry(const MakeGeometry& g, std::string* why) {
  if (g.cylinders < 1 || g.cylinders > kMaxMakeCylinders) {
    *why = "C must be 1 to " + std::to_string(kMaxMakeCylinders) + " cylinders";
    return false;
  }
  if (g.heads < 1 || g.heads > 2) {
    *why = "H must be 1 or 2 heads";
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
  if (g.sizeCode < 0 || g.sizeCode > kMaxMakeSizeCode) {
    *why = "B must be 128 << n (128, 256, 512, 1024, ..., 32768): a D88 record holds at most " +
           std::to_string(kMaxRecordDataBytes) + " bytes";
    return false;
  }
  return true;
}

std::uint8_t usualMedia(const MakeGeometry& g) {
  const bool oneHead = g.heads == 1;
  if (g.cylinders <= 42) return oneHead ? kMedia1D : kMedia2D;
  if (static_cast<std::int64_t>(g.sectors) * sectorBytes(g.sizeCode) >= 6144) return kMedia2HD;
  return oneHead ? kMedia1DD : kMedia2DD;
}

bool parseMediaName(const char* text, std::uint8_t* media) {
  std::string word = text != nullptr ? text : "";
  for (char& c : word) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  for (const MediaName& m : kMediaNames) {
    if (word == m.word) {
      *media = m.media;
      return true;
    }
  }
  return false;
}

std::string mediaWord(std::uint8_t media) {
  for (const MediaName& m : kMediaNames) {
    if (m.media == media) return m.word;
  }
  return hexByte(media);
}

bool readRawMap(const std::string& text, const MakeGeometry& g, RawMapFixes* fixes,
                std::string* why) {
  JsonNode root;
  if (!parseJsonText(text, &root, why)) {
    *why = "it is not JSON: " + *why;
    return false;
  }
  const JsonNode* geometry = root.member("geometry");
  const JsonNode* entries = root.member("entries");
  std::int64_t tracks = 0;
  std::int64_t sectors = 0;
  std::int64_t firstR = 0;
  std::int64_t bytes = 0;
  if (root.type != JsonNode::Type::kObject || geometry == nullptr ||
      entries == nullptr || entries->type != JsonNode::Type::kArray ||
      !integerMember(*geometry, "tracks", 1, kTrackCount, &tracks) ||
      !integerMember(*geometry, "sectors", 1, kMaxRawSectors, &sectors) ||
      !integerMember(*geometry, "firstR", 0, 0xFF, &firstR) ||
      !integerMember(*geometry, "sectorBytes", 128, INT32_MAX, &bytes)) {
    *why = "it is not a map of d88raw (no geometry with tracks, sectors, firstR and sectorBytes, "
           "or no entries)";
    return false;
  }
  // A map of a one-head image says so ("heads": 1); one of two heads says
  // nothing, as d88raw wrote them before it knew one-sided disks.
  std::int64_t heads = 2;
  if (geometry->member("heads") != nullptr && !integerMember(*geometry, "heads", 1, 2, &heads)) {
    *why = "its geometry's heads are not 1 or 2";
    return false;
  }
  const std::int64_t sectorSize = sectorBytes(g.sizeCode);
  const std::uint64_t rawBytes = makeRawBytes(g);
  if (heads != g.heads) {
    *why = "it maps an image of " + std::to_string(heads) + (heads == 1 ? " head" : " heads") +
           ", not " + makeGeometryText(g);
    return false;
  }
  if (sectors != g.sectors || firstR != g.firstR || bytes != sectorSize ||
      static_cast<std::uint64_t>(tracks * sectors * bytes) != rawBytes) {
    *why = "it maps " + std::to_string(tracks) + " tracks of sectors " + std::to_string(firstR) +
           " to " + std::to_string(firstR + sectors - 1) + " of " + std::to_string(bytes) +
           " bytes, not " + makeGeometryText(g) + " from sector " + std::to_string(g.firstR);
    return false;
  }
  RawMapFixes read;
  for (std::size_t i = 0; i < entries->items.size(); ++i) {
    const JsonNode& entry = entries->items[i];
    const std::string where = "entry " + std::to_string(i + 1);
    if (entry.type != JsonNode::Type::kObject) {
      *why = where + " is not an object";
      return false;
    }
    if (entry.member("offset") == nullptr) continue;  // a record the raw image never held
    std::int64_t offset = 0;
    std::int64_t c = 0, h = 0, r = 0, n = 0, held = 0;
    const JsonNode* kind = entry.member("kind");
    const JsonNode* status = entry.member("status");
    if (!integerMember(entry, "offset", 0, static_cast<std::int64_t>(rawBytes) - 1, &offset) ||
        offset % sectorSize != 0 || kind == nullptr || kind->type != JsonNode::Type::kString ||
        !integerMember(entry, "c", 0, 0xFF, &c) || !integerMember(entry, "h", 0, 0xFF, &h) ||
        !integerMember(entry, "r", 0, 0xFF, &r) || !integerMember(entry, "n", 0, 0xFF, &n) ||
        !integerMember(entry, "bytes", 0, sectorSize, &held) || status == nullptr ||
        status->type != JsonNode::Type::kArray || status->items.empty()) {
      *why = where + " is not a sector of the raw image as d88raw names one";
      return false;
    }
    SectorFix fix;
    const auto index = static_cast<std::uint64_t>(offset / sectorSize);
    if (kind->text == rawKindName(RawKind::kMissing)) {
      fix.leftOut = true;
      ++read.leftOut;
      read.sectors[index] = fix;
      continue;
    }
    fix.id = {static_cast<std::uint8_t>(c), static_cast<std::uint8_t>(h),
              static_cast<std::uint8_t>(r), static_cast<std::uint8_t>(n)};
    for (std::size_t w = 0; w < status->items.size(); ++w) {
      const JsonNode& word = status->items[w];
      if (word.type != JsonNode::Type::kString) {
        *why = where + " has a status word that is not a string";
        return false;
      }
      if (w == 0 && !statusOfWords(word.text, &fix.status)) {
        *why = where + " has a status that d88raw does not write: " + word.text;
        return false;
      }
      if (word.text == statusMeaning(kStatusDeletedData)) fix.deletedMark = kDeletedDataMark;
    }
    if (isMarkedBad(fix.status)) ++read.markedBad;
    if (held < sectorSize) {
      fix.bytes = static_cast<std::int32_t>(held);
      ++read.shortened;
    }
    read.sectors[index] = fix;
  }
  *fixes = std::move(read);
  return true;
}

DiskPlan makeLayout(const MakeGeometry& g, const MakeHeader& header, const RawMapFixes* fixes,
                      std::vector<std::vector<std::uint64_t>>* rawOffsets) {
  DiskPlan layout;
  layout.name = header.name;
  layout.writeProtect = header.writeProtect;
  layout.mediaType = header.mediaType;
  layout.tracks.resize(static_cast<std::size_t>(2 * g.cylinders));
  rawOffsets->assign(layout.tracks.size(), {});
  const auto sectorSize = static_cast<std::uint32_t>(sectorBytes(g.sizeCode));
  std::uint64_t index = 0;
  for (int c = 0; c < g.cylinders; ++c) {
    for (int h = 0; h < g.heads; ++h) {
      const auto slot = static_cast<std::size_t>(2 * c + h);
      for (int s = 0; s < g.sectors; ++s, ++index) {
        RecordLayout record;
        record.id = {static_cast<std::uint8_t>(c), static_cast<std::uint8_t>(h),
                     static_cast<std::uint8_t>(g.firstR + s), static_cast<std::uint8_t>(g.sizeCode)};
        record.density = header.singleDensity ? kDensitySingle : 0x00;
        record.dataSize = sectorSize;
        if (fixes != nullptr) {
          const auto fix = fixes->sectors.find(index);
          if (fix != fixes->sectors.end()) {
            if (fix->second.leftOut) continue;
            record.id = fix->second.id;
            record.status = fix->second.status;
            record.deletedMark = fix->second.deletedMark;
            if (fix->second.bytes >= 0) record.dataSize = static_cast<std::uint32_t>(fix->second.bytes);
          }
        }
        layout.tracks[slot].push_back(record);
        (*rawOffsets)[slot].push_back(index * sectorSize);
      }
    }
  }
  return layout;
}

Status RawImageSource::fill() {
  if (windowAt_ < window_.size() || ended_) return Status();
  window_.resize(kRawWindowBytes);
  int error = 0;
  const std::int64_t got =
      file_.read(static_cast<std::int64_t>(position_), window_.data(), window_.size(), &error);
  if (got < 0) {
    window_.clear();
    return Status::ioError(error, "cannot read the raw image");
  }
  window_.resize(static_cast<std::size_t>(got));
  windowAt_ = 0;
  if (got == 0) ended_ = true;
  return Status();
}

Status RawImageSource::skipTo(std::uint64_t offset) {
  while (position_ < offset) {
    const Status s = fill();
    if (!s.ok()) return s;
    if (ended_) return Status::corruption("the raw image ends at byte " + std::to_string(position_));
    const std::size_t step = static_cast<std::size_t>(
        std::min<std::uint64_t>(offset - position_, window_.size() - windowAt_));
    windowAt_ += step;
    position_ += step;
  }
  return Status();
}

Status RawImageSource::data(int track, std::size_t index, const RecordLayout& record,
                            std::uint8_t* buffer) {
  Status s = skipTo(offsets_[static_cast<std::size_t>(track)][index]);
  std::size_t copied = 0;
  while (s.ok() && copied < record.dataSize) {
    s = fill();
    if (!s.ok()) break;
    if (ended_) return Status::corruption("the raw image ends at byte " + std::to_string(position_));
    const std::size_t step = std::min(record.dataSize - copied, window_.size() - windowAt_);
    std::memcpy(buffer + copied, window_.data() + windowAt_, step);
    copied += step;
    windowAt_ += step;
    position_ += step;
  }
  return s;
}

Status RawImageSource::readToEnd(std::uint64_t most, std::uint64_t* total) {
  while (!ended_ && position_ + (window_.size() - windowAt_) <= most) {
    position_ += window_.size() - windowAt_;
    windowAt_ = window_.size();
    const Status s = fill();
    if (!s.ok()) return s;
  }
  *total = ended_ ? position_ : position_ + (window_.size() - windowAt_);
  return Status();
}

}  // namespace d88
