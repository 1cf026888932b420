#include "listing_format.h"

#include <algorithm>
#include <cstdio>

#if defined(_WIN32)
#include <windows.h>
#elif __has_include(<iconv.h>)
#include <iconv.h>
#define D88_HAVE_ICONV 1
#endif

#include "console.h"
#include "cut_plan.h"

namespace d88 {
namespace {


// Bytes of the Shift_JIS character that starts with `lead`: 2 after a lead
// byte of a double-byte character, else 1.
std::size_t shiftJisLength(unsigned char lead) {
  return (lead >= 0x81 && lead <= 0x9F) || (lead >= 0xE0 && lead <= 0xFC) ? 2 : 1;
}

// Converts Shift_JIS (CP932) one character at a time, with the platform's
// converter; false when there is none or it refuses a character.
class ShiftJisConverter {
 public:
  ShiftJisConverter() {
#ifdef D88_HAVE_ICONV
    cd_ = iconv_open("UTF-8", "CP932");
#endif
  }
  ~ShiftJisConverter() {
#ifdef D88_HAVE_ICONV
    if (available()) iconv_close(cd_);
#endif
  }
  ShiftJisConverter(const ShiftJisConverter&) = delete;
  ShiftJisConverter& operator=(const ShiftJisConverter&) = delete;

  bool available() const {
#if defined(D88_HAVE_ICONV)
    return cd_ != reinterpret_cast<iconv_t>(-1);
#elif defined(_WIN32)
    return IsValidCodePage(932) != 0;
#else
    return false;
#endif
  }

  bool convert(const char* bytes, std::size_t length, std::string* out) {
#if defined(D88_HAVE_ICONV)
    char converted[16];
    char* in = const_cast<char*>(bytes);
    std::size_t inLeft = length;
    char* outPtr = converted;
    std::size_t outLeft = sizeof converted;
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    if (iconv(cd_, &in, &inLeft, &outPtr, &outLeft) == static_cast<std::size_t>(-1) || inLeft != 0) {
      return false;
    }
    out->append(converted, static_cast<std::size_t>(outPtr - converted));
    return true;
#elif defined(_WIN32)
    wchar_t wide[4];
    const int units = MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, bytes,
                                          static_cast<int>(length), wide, 4);
    if (units <= 0) return false;
    char utf8[16];
    const int size = WideCharToMultiByte(CP_UTF8, 0, wide, units, utf8, sizeof utf8, nullptr, nullptr);
    if (size <= 0) return false;
    out->append(utf8, static_cast<std::size_t>(size));
    return true;
#else
    (void)bytes;
    (void)length;
    (void)out;
    return false;
#endif
  }

 private:
#ifdef D88_HAVE_ICONV
  iconv_t cd_;
#endif
};

std::string mediaText(int mediaType) {
  if (const char* name = mediaName(mediaType)) return name;
  char text[16];
  std::snprintf(text, sizeof text, "media 0x%02X", static_cast<unsigned>(mediaType));
  return text;
}

template <typename T, typename F>
std::string joined(const std::vector<T>& items, const char* separator, F&& each) {
  std::string out;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i != 0) out += separator;
    out += each(items[i]);
  }
  return out;
}

// Sector numbers as "1, 4-6".
std::string numberRanges(const std::vector<int>& numbers) {
  std::string out;
  for (std::size_t i = 0; i < numbers.size();) {
    std::size_t j = i;
    while (j + 1 < numbers.size() && numbers[j + 1] == numbers[j] + 1) ++j;
    if (!out.empty()) out += ", ";
    out += std::to_string(numbers[i]);
    if (j > i) out += "-" + std::to_string(numbers[j]);
    i = j + 1;
  }
  return out;
}

std::string recordNumbers(const TrackListing& track, const std::vector<int>& indexes) {
  std::vector<int> numbers;
  for (int i : indexes) numbers.push_back(track.records[static_cast<std::size_t>(i)].id.r);
  return joined(numbers, ", ", [](int r) { return std::to_string(r); });
}

std::string layoutText(const TrackLayout& l) {
  return std::to_string(l.cylinders) + " x " + std::to_string(l.heads) + " x " +
         std::to_string(l.sectors) + " x " + std::to_string(l.sectorBytes);
}

// Marks after " ! ", separated by "; ": nothing when there are none.
std::string marksText(const std::vector<std::string>& marks) {
  if (marks.empty()) return "";
  return "  ! " + joined(marks, "; ", [](const std::string& m) { return m; });
}

std::string diskLine(const DiskSummary& d) {
  char head[96];
  std::snprintf(head, sizeof head, "disk %d: offset %lld (0x%llX), %lu bytes, ", d.index,
                static_cast<long long>(d.offset), static_cast<unsigned long long>(d.offset),
                static_cast<unsigned long>(d.size));
  std::string line = head + mediaText(d.mediaType);
  // Where the media byte and the tracks disagree, the tracks' own layout shows.
  const char* media = mediaName(d.mediaType);
  if (d.layout.media != nullptr && (media == nullptr || std::string(media) != d.layout.media)) {
    line += std::string(" (the tracks hold ") + d.layout.media + ": " + layoutText(d.layout) + ")";
  }
  if (d.writeProtected) line += ", write-protected";
  line += ", " + trackCountsText(d.counts);
  line += ", name \"" + displayName(d.name) + "\"";
  if (!d.contentSha256.empty()) line += ", content " + d.contentSha256.substr(0, kContentDigits);
  return line + marksText(d.problems) + "\n";
}

std::string planSectorText(const PlanSector& s) { return sectorAddressText(s.outcome.address); }

std::string coverageLines(const CutCoverage& c) {
  const std::string of = " of " + std::to_string(c.sectors) + " sectors it reads ";
  if (c.unread.empty() && c.markedBad.empty()) {
    return "  d88cut: all " + std::to_string(c.sectors) + " sectors it reads are present\n";
  }
  std::string out;
  if (!c.unread.empty()) {
    const std::vector<PlanSector> first(
        c.unread.begin(),
        c.unread.begin() + std::min<std::ptrdiff_t>(kFirstMissingShown,
                                                    static_cast<std::ptrdiff_t>(c.unread.size())));
    out += "  d88cut: " + std::to_string(c.unread.size()) + of + "could not be read: " +
           joined(first, ", ", planSectorText) + (c.unread.size() > first.size() ? ", ..." : "") +
           "\n";
  }
  if (!c.markedBad.empty()) {
    const PlanSector& first = c.markedBad.front();
    out += "  d88cut: " + std::to_string(c.markedBad.size()) + of +
           "are marked bad in the image, the first at " + planSectorText(first) + ": " +
           statusMeaning(first.outcome.record.status) + "\n";
  }
  return out;
}

// What a record is, in words, where it is not an ordinary sound record of
// the track's size code: "C21", "N2", "data CRC error", "512 bytes".
std::string recordNotes(const TrackListing& t, const SectorRecord& record) {
  const SectorId& id = record.id;
  std::vector<std::string> notes;
  if (id.c != t.c) notes.push_back("C" + std::to_string(id.c));
  if (id.h != t.h) notes.push_back("H" + std::to_string(id.h));
  if (id.n != t.usualN) notes.push_back("N" + std::to_string(id.n));
  if (record.status != kStatusNormal) {
    notes.push_back(statusMeaning(record.status));
  }
  if (record.deletedMark == kDeletedDataMark && record.status != kStatusDeletedData) {
    notes.push_back("deleted data");
  }
  if (record.density == kDensitySingle) notes.push_back("single density");
  const bool nominal = id.n <= kMaxSizeCode && record.dataSize == (128u << id.n);
  if (record.dataAvailable < record.dataSize) {
    notes.push_back(std::to_string(record.dataAvailable) + " of " +
                    std::to_string(record.dataSize) + " bytes");
  } else if (!nominal) {
    notes.push_back(std::to_string(record.dataSize) + " bytes");
  }
  if (notes.empty()) return "";
  return "(" + joined(notes, ",", [](const std::string& n) { return n; }) + ")";
}

std::string trackLine(const TrackListing& t) {
  char head[96];
  std::snprintf(head, sizeof head, "track %3d  C %d H %d  N %d  %zu record%s:", t.track, t.c, t.h,
                t.usualN, t.records.size(), t.records.size() == 1 ? "" : "s");
  std::string line = head;
  for (const SectorRecord& record : t.records) {
    line += " " + std::to_string(record.id.r) + recordNotes(t, record);
  }
  std::vector<std::string> marks;
  if (!t.duplicates.empty()) {
    const std::string twins = joined(t.duplicates, ", ", [&](int i) {
      const bool differs = std::find(t.differingDuplicates.begin(), t.differingDuplicates.end(),
                                     i) != t.differingDuplicates.end();
      return std::to_string(t.records[static_cast<std::size_t>(i)].id.r) +
             (differs ? " (different bytes)" : "");
    });
    marks.push_back("duplicate: R " + twins);
  }
  if (!t.mismatched.empty()) {
    marks.push_back("C/H not the track's: R " + recordNumbers(t, t.mismatched));
  }
  if (!t.missingR.empty()) marks.push_back("gap: R " + numberRanges(t.missingR));
  if (!t.markedBad.empty()) {
    const std::string bad = joined(t.markedBad, ", ", [&](int i) {
      const SectorRecord& record = t.records[static_cast<std::size_t>(i)];
      return std::to_string(record.id.r) + " (" + statusMeaning(record.status) + ")";
    });
    marks.push_back("marked bad: R " + bad);
  }
  if (!t.deleted.empty()) marks.push_back("deleted data: R " + recordNumbers(t, t.deleted));
  if (!t.singleDensity.empty()) {
    marks.push_back("single density: R " + recordNumbers(t, t.singleDensity));
  }
  if (!t.cutOff.empty()) marks.push_back("data cut off: R " + recordNumbers(t, t.cutOff));
  if (static_cast<int>(t.records.size()) < t.usualRecords) {
    marks.push_back("fewer records than the usual " + std::to_string(t.usualRecords));
  }
  const std::string ending = trackEndText(t);
  if (!ending.empty()) marks.push_back(ending);
  return line + marksText(marks) + "\n";
}

// ---- JSON ----

}  // namespace

std::string jsonString(const std::string& utf8) {
  std::string out = "\"";
  for (char ch : utf8) {
    const auto byte = static_cast<unsigned char>(ch);
    if (ch == '"' || ch == '\\') {
      out += '\\';
      out += ch;
    } else if (byte < 0x20) {
      char text[8];
      std::snprintf(text, sizeof text, "\\u%04X", byte);
      out += text;
    } else {
      out += ch;
    }
  }
  return out + "\"";
}

namespace {

std::string jsonInts(const std::vector<int>& values) {
  return "[" + joined(values, ",", [](int v) { return std::to_string(v); }) + "]";
}

std::string jsonAddress(const SectorAddress& a) {
  return "{\"track\":" + std::to_string(a.track) + ",\"c\":" + std::to_string(a.c) +
         ",\"h\":" + std::to_string(a.h) + ",\"r\":" + std::to_string(a.r) +
         ",\"n\":" + std::to_string(a.n) + "}";
}

std::string jsonBool(bool value) { return value ? "true" : "false"; }

std::string jsonStrings(const std::vector<std::string>& values) {
  return "[" + joined(values, ",", jsonString) + "]";
}

}  // namespace

std::string jsonPathMember(const std::string& key, const std::string& path) {
  if (isValidUtf8(path)) return jsonString(key) + ":" + jsonString(path);
  std::string hex;
  for (char ch : path) {
    char digits[3];
    std::snprintf(digits, sizeof digits, "%02x", static_cast<unsigned>(static_cast<unsigned char>(ch)));
    hex += digits;
  }
  return jsonString(key) + ":" + jsonString(safeUtf8(path)) + "," + jsonString(key + "Hex") +
         ":\"" + hex + "\"";
}

namespace {

std::string jsonImage(const std::string& path) { return jsonPathMember("image", path); }

std::string jsonDisk(const DiskSummary& d) {
  const char* media = mediaName(d.mediaType);
  std::string layout = "null";
  if (d.layout.media != nullptr) {
    layout = "{\"cylinders\":" + std::to_string(d.layout.cylinders) +
             ",\"heads\":" + std::to_string(d.layout.heads) +
             ",\"sectors\":" + std::to_string(d.layout.sectors) +
             ",\"sectorBytes\":" + std::to_string(d.layout.sectorBytes) +
             ",\"media\":" + jsonString(d.layout.media) + "}";
  }
  return "{\"index\":" + std::to_string(d.index) + ",\"offset\":" + std::to_string(d.offset) +
         ",\"size\":" + std::to_string(d.size) + ",\"mediaType\":" + std::to_string(d.mediaType) +
         ",\"media\":" + (media != nullptr ? jsonString(media) : std::string("null")) +
         ",\"writeProtected\":" + jsonBool(d.writeProtected) +
         ",\"name\":" + jsonString(displayName(d.name)) + ",\"tracks\":" + std::to_string(d.counts.tracks) +
         ",\"sectorsPerTrack\":{\"min\":" + std::to_string(d.counts.minRecords) +
         ",\"max\":" + std::to_string(d.counts.maxRecords) +
         "},\"sizeCodes\":" + jsonInts(d.counts.sizeCodes) +
         ",\"layout\":" + layout + ",\"problems\":" + jsonStrings(d.problems) +
         (d.contentSha256.empty() ? "" : ",\"contentSha256\":" + jsonString(d.contentSha256)) +
         "}";
}

// One record as JSON, appended to `out`: one formatted write, since a disk
// of damaged tracks can have tens of thousands of records.
void appendJsonRecord(std::string& out, const SectorRecord& record) {
  const SectorId& id = record.id;
  char text[512];
  const int length = std::snprintf(
      text, sizeof text,
      "{\"c\":%u,\"h\":%u,\"r\":%u,\"n\":%u,\"recordCount\":%u,\"singleDensity\":%s,"
      "\"density\":%u,\"deleted\":%s,\"deletedMark\":%u,\"status\":%u,\"statusMeaning\":%s,"
      "\"markedBad\":%s,\"dataSize\":%u,\"dataAvailable\":%d,\"offset\":%lld}",
      id.c, id.h, id.r, id.n, record.recordCount,
      jsonBool(record.density == kDensitySingle).c_str(), record.density,
      jsonBool(isDeletedData(record)).c_str(), record.deletedMark, record.status,
      jsonString(statusMeaning(record.status)).c_str(), jsonBool(isMarkedBad(record.status)).c_str(),
      record.dataSize, static_cast<int>(record.dataAvailable),
      static_cast<long long>(record.headerOffset));
  if (length > 0) out.append(text, std::min(static_cast<std::size_t>(length), sizeof text - 1));
}

// Why a walk ended, as JSON names it.
const char* jsonTrackEnd(TrackEnd end) {
  switch (end) {
    case TrackEnd::kRecordCount:
      return "recordCount";
    case TrackEnd::kZeroCount:
      return "zeroCount";
    case TrackEnd::kDiskEnd:
      return "diskEnd";
    case TrackEnd::kHeaderCutOff:
      return "headerCutOff";
    case TrackEnd::kCap:
      return "cap";
    case TrackEnd::kReadError:
      return "readError";
  }
  return "unknown";
}

void appendJsonTrack(std::string& out, const TrackListing& t) {
  out += "{\"track\":" + std::to_string(t.track) + ",\"c\":" + std::to_string(t.c) +
         ",\"h\":" + std::to_string(t.h) + ",\"usualN\":" + std::to_string(t.usualN) +
         ",\"records\":[";
  for (std::size_t i = 0; i < t.records.size(); ++i) {
    if (i != 0) out += ',';
    appendJsonRecord(out, t.records[i]);
  }
  out += "],\"duplicates\":" + jsonInts(t.duplicates) +
         ",\"differingDuplicates\":" + jsonInts(t.differingDuplicates) +
         ",\"mismatched\":" + jsonInts(t.mismatched) + ",\"missingR\":" + jsonInts(t.missingR) +
         ",\"markedBad\":" + jsonInts(t.markedBad) + ",\"deleted\":" + jsonInts(t.deleted) +
         ",\"singleDensity\":" + jsonInts(t.singleDensity) + ",\"cutOff\":" + jsonInts(t.cutOff) +
         ",\"usualRecords\":" + std::to_string(t.usualRecords) +
         ",\"end\":" + jsonString(jsonTrackEnd(t.end)) +
         ",\"endOffset\":" + std::to_string(t.endOffset) +
         (t.end == TrackEnd::kReadError ? ",\"error\":" + jsonString(t.error.reason()) : "") + "}";
}

// A sector of the cut plan: the file it belongs to, its address, and what
// became of it.
std::string jsonPlanSector(const PlanSector& s) {
  const SectorOutcome& o = s.outcome;
  std::string out = "{\"file\":" + jsonString(s.file) + ",\"sector\":" + jsonAddress(o.address) +
                    ",\"found\":" + jsonBool(o.found) + ",\"bytesRead\":" +
                    std::to_string(o.bytesRead) + ",\"bytesWanted\":" + std::to_string(o.slotBytes);
  if (o.found) {
    out += ",\"status\":" + std::to_string(o.record.status) +
           ",\"statusMeaning\":" + jsonString(statusMeaning(o.record.status));
  }
  // Why the sector gave fewer bytes than the file takes from it.
  if (!o.status.ok()) out += ",\"reason\":" + jsonString(safeUtf8(o.status.toString()));
  return out + "}";
}

std::string jsonCoverage(const CutCoverage& c) {
  std::vector<SectorAddress> first;
  for (const PlanSector& s : c.unread) {
    if (first.size() < static_cast<std::size_t>(kFirstMissingShown)) first.push_back(s.outcome.address);
  }
  return "{\"disk\":0,\"sectors\":" + std::to_string(c.sectors) +
         ",\"missing\":" + std::to_string(c.unread.size()) + ",\"firstMissing\":[" +
         joined(first, ",", jsonAddress) + "],\"markedBad\":" + std::to_string(c.markedBad.size()) +
         ",\"missingSectors\":[" + joined(c.unread, ",", jsonPlanSector) +
         "],\"markedSectors\":[" + joined(c.markedBad, ",", jsonPlanSector) + "]}";
}

}  // namespace

std::string displayName(const std::string& raw) {
  ShiftJisConverter converter;
  const bool converting = converter.available();
  std::string out;
  for (std::size_t i = 0; i < raw.size();) {
    const auto byte = static_cast<unsigned char>(raw[i]);
    if (byte == '\\') {
      out += "\\\\";
      ++i;
      continue;
    }
    // 0x80, 0xA0 and 0xFD-0xFF are no Shift_JIS characters; some converters
    // turn them into C1 controls or private-use code points.
    const bool noCharacter = byte == 0x80 || byte == 0xA0 || byte >= 0xFD;
    if (isControlByte(byte) || (byte >= 0x80 && (!converting || noCharacter))) {
      out += escapedByte(byte);
      ++i;
      continue;
    }
    if (byte < 0x80) {
      out += static_cast<char>(byte);
      ++i;
      continue;
    }
    // A character that does not convert shows its first byte; the next byte
    // starts afresh, so a stray lead byte does not swallow a good character.
    const std::size_t length = std::min(shiftJisLength(byte), raw.size() - i);
    if (converter.convert(raw.data() + i, length, &out)) {
      i += length;
    } else {
      out += escapedByte(byte);
      ++i;
    }
  }
  // Whatever a converter gave back, what leaves here is valid UTF-8.
  return safeUtf8(out);
}

std::string disksText(const std::vector<DiskSummary>& disks, const CutCoverage* coverage) {
  std::string out;
  for (const DiskSummary& d : disks) {
    out += diskLine(d);
    if (d.index == 0 && coverage != nullptr) out += coverageLines(*coverage);
  }
  return out;
}

std::string tracksText(const DiskSummary& disk, const std::vector<TrackListing>& tracks) {
  std::string out = diskLine(disk);
  for (const TrackListing& t : tracks) out += trackLine(t);
  return out;
}

std::string disksJson(const std::string& imagePath, const std::vector<DiskSummary>& disks,
                      const CutCoverage* coverage) {
  std::string out = "{" + jsonImage(imagePath) + ",\"disks\":[" +
                    joined(disks, ",", jsonDisk) + "]";
  if (coverage != nullptr) {
    out += ",\"cutPlan\":" + jsonCoverage(*coverage);
  }
  return out + "}\n";
}

std::string errorJson(const std::string& imagePath, const std::string& reason) {
  return "{" + jsonImage(imagePath) + ",\"error\":" +
         jsonString(safeUtf8(reason)) + "}\n";
}

bool writeTracksJson(const std::string& imagePath, const DiskSummary& disk,
                     const std::vector<TrackListing>& tracks,
                     const std::function<bool(const std::string&)>& sink) {
  // One buffer, handed on and used again whenever it holds a piece.
  constexpr std::size_t kPiece = 64 * 1024;
  std::string out;
  out.reserve(2 * kPiece);
  out += "{" + jsonImage(imagePath) + ",\"disk\":" + jsonDisk(disk) + ",\"tracks\":[";
  for (std::size_t i = 0; i < tracks.size(); ++i) {
    if (i != 0) out += ',';
    appendJsonTrack(out, tracks[i]);
    if (out.size() >= kPiece) {
      if (!sink(out)) return false;
      out.clear();
    }
  }
  out += "]}\n";
  return sink(out);
}

std::string tracksJson(const std::string& imagePath, const DiskSummary& disk,
                       const std::vector<TrackListing>& tracks) {
  std::string all;
  writeTracksJson(imagePath, disk, tracks, [&all](const std::string& piece) {
    all += piece;
    return true;
  });
  return all;
}

}  // namespace d88
