#include "lister/listing_format.h"

#include <cstdio>

#if __has_include(<iconv.h>)
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

#ifdef D88_HAVE_ICONV
// Converts one run of bytes without control characters from CP932.
bool appendConverted(iconv_t cd, const std::string& run, std::string* out) {
  std::size_t i = 0;
  while (i < run.size()) {
    char converted[64];
    char* in = const_cast<char*>(run.data() + i);
    std::size_t inLeft = run.size() - i;
    char* outPtr = converted;
    std::size_t outLeft = sizeof converted;
    const std::size_t result = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
    const std::size_t consumed = static_cast<std::size_t>(in - (run.data() + i));
    out->append(converted, static_cast<std::size_t>(outPtr - converted));
    i += consumed;
    if (result == static_cast<std::size_t>(-1) && consumed == 0 && outPtr == converted) {
      // A byte that does not convert here: show it and go on after it.
      out->append(hexByte(static_cast<unsigned char>(run[i])));
      ++i;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
  }
  return true;
}
#endif

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
  std::snprintf(head, sizeof head, "disk %d: offset %ld (0x%lX), %ld bytes, %s, %d tracks", d.index,
                static_cast<long>(d.offset), static_cast<unsigned long>(d.offset),
                static_cast<long>(d.size), mediaText(d.mediaType).c_str(), d.tracks);
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
  std::string out;
#ifdef D88_HAVE_ICONV
  iconv_t cd = iconv_open("UTF-8", "CP932");
  const bool converting = cd != reinterpret_cast<iconv_t>(-1);
#else
  const bool converting = false;
#endif
  std::string run;
  const auto flush = [&] {
#ifdef D88_HAVE_ICONV
    if (converting && !run.empty()) appendConverted(cd, run, &out);
#endif
    run.clear();
  };
  for (char ch : raw) {
    const auto byte = static_cast<unsigned char>(ch);
    if (isControl(byte) || ch == '\\' || (!converting && byte >= 0x80)) {
      flush();
      out += ch == '\\' ? std::string("\\\\") : hexByte(byte);
    } else if (converting) {
      run += ch;
    } else {
      out += ch;
    }
  }
  flush();
#ifdef D88_HAVE_ICONV
  if (converting) iconv_close(cd);
#endif
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
