#include "lister/listing_format.h"

#include <algorithm>
#include <cstdio>

#if defined(_WIN32)
#include <windows.h>
#elif __has_include(<iconv.h>)
#include <iconv.h>
#define D88_HAVE_ICONV 1
#endif

namespace d88 {
namespace {

std::string hexByte(unsigned char byte) {
  char text[5];
  std::snprintf(text, sizeof text, "\\x%02X", byte);
  return text;
}

bool isControl(unsigned char byte) { return byte < 0x20 || byte == 0x7F; }

// Length of the valid UTF-8 sequence at text[i], 0 when it is not one.
std::size_t utf8Length(const std::string& text, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char b0 = byte(i);
  if (b0 < 0x80) return 1;
  std::size_t length = 0;
  unsigned int min = 0;
  unsigned int code = 0;
  if ((b0 & 0xE0) == 0xC0) {
    length = 2, code = b0 & 0x1Fu, min = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    length = 3, code = b0 & 0x0Fu, min = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    length = 4, code = b0 & 0x07u, min = 0x10000;
  } else {
    return 0;
  }
  if (i + length > text.size()) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    code = code << 6 | (byte(i + k) & 0x3Fu);
  }
  if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return length;
}

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

std::string sectorAddressText(const SectorAddress& a) {
  char text[96];
  std::snprintf(text, sizeof text, "track %d (C %d, H %d, R %d, N %d)", static_cast<int>(a.track),
                static_cast<int>(a.c), static_cast<int>(a.h), static_cast<int>(a.r),
                static_cast<int>(a.n));
  return text;
}

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
  for (int i : indexes) numbers.push_back(track.records[static_cast<std::size_t>(i)].r);
  return joined(numbers, ", ", [](int r) { return std::to_string(r); });
}

std::string diskLine(const DiskSummary& d) {
  char head[160];
  std::snprintf(head, sizeof head, "disk %d: offset %ld (0x%lX), %ld bytes, %s, %d track%s",
                d.index, static_cast<long>(d.offset), static_cast<unsigned long>(d.offset),
                static_cast<long>(d.size), mediaText(d.mediaType).c_str(), d.tracks,
                d.tracks == 1 ? "" : "s");
  std::string line = head;
  if (d.tracks > 0) {
    line += ", " + std::to_string(d.minSectors);
    if (d.maxSectors != d.minSectors) line += "-" + std::to_string(d.maxSectors);
    line += " sectors/track, N ";
    line += joined(d.sizeCodes, ",", [](int n) { return std::to_string(n); });
  }
  line += ", name \"" + displayName(d.name) + "\"\n";
  return line;
}

std::string coverageLine(const CutCoverage& c) {
  if (c.missing == 0) {
    return "  d88cut: all " + std::to_string(c.sectors) + " sectors it reads are present\n";
  }
  std::string line = "  d88cut: " + std::to_string(c.missing) + " of " +
                     std::to_string(c.sectors) + " sectors it reads are missing: ";
  line += joined(c.firstMissing, ", ", sectorAddressText);
  if (c.missing > static_cast<int>(c.firstMissing.size())) line += ", ...";
  return line + "\n";
}

std::string trackLine(const TrackListing& t) {
  char head[96];
  std::snprintf(head, sizeof head, "track %3d  C %d H %d  N %d  %zu record%s:", t.track, t.c, t.h,
                t.usualN, t.records.size(), t.records.size() == 1 ? "" : "s");
  std::string line = head;
  for (const SectorId& id : t.records) {
    line += " " + std::to_string(id.r);
    std::string differs;
    if (id.c != t.c) differs += "C" + std::to_string(id.c);
    if (id.h != t.h) differs += std::string(differs.empty() ? "" : ",") + "H" + std::to_string(id.h);
    if (id.n != t.usualN) {
      differs += std::string(differs.empty() ? "" : ",") + "N" + std::to_string(id.n);
    }
    if (!differs.empty()) line += "(" + differs + ")";
  }
  std::vector<std::string> marks;
  if (!t.duplicates.empty()) marks.push_back("duplicate: R " + recordNumbers(t, t.duplicates));
  if (!t.mismatched.empty()) {
    marks.push_back("C/H not the track's: R " + recordNumbers(t, t.mismatched));
  }
  if (!t.missingR.empty()) marks.push_back("gap: R " + numberRanges(t.missingR));
  if (static_cast<int>(t.records.size()) < t.usualRecords) {
    marks.push_back("fewer records than the usual " + std::to_string(t.usualRecords));
  }
  if (!marks.empty()) line += "  ! " + joined(marks, "; ", [](const std::string& s) { return s; });
  return line + "\n";
}

// ---- JSON ----

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

std::string jsonInts(const std::vector<int>& values) {
  return "[" + joined(values, ",", [](int v) { return std::to_string(v); }) + "]";
}

std::string jsonAddress(const SectorAddress& a) {
  return "{\"track\":" + std::to_string(a.track) + ",\"c\":" + std::to_string(a.c) +
         ",\"h\":" + std::to_string(a.h) + ",\"r\":" + std::to_string(a.r) +
         ",\"n\":" + std::to_string(a.n) + "}";
}

std::string jsonDisk(const DiskSummary& d) {
  const char* media = mediaName(d.mediaType);
  return "{\"index\":" + std::to_string(d.index) + ",\"offset\":" + std::to_string(d.offset) +
         ",\"size\":" + std::to_string(d.size) + ",\"mediaType\":" + std::to_string(d.mediaType) +
         ",\"media\":" + (media != nullptr ? jsonString(media) : std::string("null")) +
         ",\"name\":" + jsonString(displayName(d.name)) + ",\"tracks\":" + std::to_string(d.tracks) +
         ",\"sectorsPerTrack\":{\"min\":" + std::to_string(d.minSectors) +
         ",\"max\":" + std::to_string(d.maxSectors) + "},\"sizeCodes\":" + jsonInts(d.sizeCodes) +
         "}";
}

std::string jsonTrack(const TrackListing& t) {
  const std::string records = joined(t.records, ",", [](const SectorId& id) {
    return "{\"c\":" + std::to_string(id.c) + ",\"h\":" + std::to_string(id.h) +
           ",\"r\":" + std::to_string(id.r) + ",\"n\":" + std::to_string(id.n) + "}";
  });
  return "{\"track\":" + std::to_string(t.track) + ",\"c\":" + std::to_string(t.c) +
         ",\"h\":" + std::to_string(t.h) + ",\"usualN\":" + std::to_string(t.usualN) +
         ",\"records\":[" + records + "],\"duplicates\":" + jsonInts(t.duplicates) +
         ",\"mismatched\":" + jsonInts(t.mismatched) + ",\"missingR\":" + jsonInts(t.missingR) +
         ",\"usualRecords\":" + std::to_string(t.usualRecords) + "}";
}

}  // namespace

std::string safeUtf8(const std::string& bytes) {
  std::string out;
  for (std::size_t i = 0; i < bytes.size();) {
    const std::size_t length = utf8Length(bytes, i);
    const auto byte = static_cast<unsigned char>(bytes[i]);
    if (length == 0 || isControl(byte)) {
      out += hexByte(byte);
      ++i;
    } else {
      out.append(bytes, i, length);
      i += length;
    }
  }
  return out;
}

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
    if (isControl(byte) || (byte >= 0x80 && (!converting || noCharacter))) {
      out += hexByte(byte);
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
      out += hexByte(byte);
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
    if (d.index == 0 && coverage != nullptr) out += coverageLine(*coverage);
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
  std::string out = "{\"image\":" + jsonString(safeUtf8(imagePath)) + ",\"disks\":[" +
                    joined(disks, ",", jsonDisk) + "]";
  if (coverage != nullptr) {
    out += ",\"cutPlan\":{\"disk\":0,\"sectors\":" + std::to_string(coverage->sectors) +
           ",\"missing\":" + std::to_string(coverage->missing) + ",\"firstMissing\":[" +
           joined(coverage->firstMissing, ",", jsonAddress) + "]}";
  }
  return out + "}\n";
}

std::string tracksJson(const std::string& imagePath, const DiskSummary& disk,
                       const std::vector<TrackListing>& tracks) {
  return "{\"image\":" + jsonString(safeUtf8(imagePath)) + ",\"disk\":" + jsonDisk(disk) +
         ",\"tracks\":[" + joined(tracks, ",", jsonTrack) + "]}\n";
}

}  // namespace d88
