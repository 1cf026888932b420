#include "file_text.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "console.h"
#include "shift_jis.h"
#include "text_format.h"

namespace d88 {
namespace {

// U+FF61 to U+FF9F: the half-width kana JIS X 0201 puts at 0xA1 to 0xDF.
void appendHalfWidthKana(unsigned char byte, std::string* out) {
  const unsigned code = 0xFF61u + (byte - 0xA1u);
  out->push_back(static_cast<char>(0xE0 | (code >> 12)));
  out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
  out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
}

std::string groupedNumber(unsigned long long value) {
  std::string digits = std::to_string(value);
  for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3) {
    digits.insert(static_cast<std::size_t>(at), ",");
  }
  return digits;
}

std::string dateText(const FileDate& d) {
  if (!d.known) return "-";
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d", d.year, d.month, d.day, d.hour,
                d.minute);
  return text;
}

std::string isoDate(const FileDate& d) {
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", d.year, d.month, d.day, d.hour,
                d.minute, d.second);
  return text;
}

const char* stateWord(SectorState state) {
  switch (state) {
    case SectorState::kSound: return "sound";
    case SectorState::kMissing: return "missing";
    case SectorState::kShort: return "short";
    case SectorState::kMarked: return "marked";
  }
  return "?";
}

// The display width of UTF-8 text, one column a code point: enough to line
// up names, which are short.
std::size_t columns(const std::string& utf8) {
  std::size_t n = 0;
  for (char ch : utf8) {
    if ((static_cast<unsigned char>(ch) & 0xC0) != 0x80) ++n;
  }
  return n;
}

}  // namespace

std::string lowerAscii(std::string s) {
  for (char& ch : s) {
    if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
  }
  return s;
}

const FileSector* firstSectorIn(const FileEntry& entry, std::initializer_list<SectorState> states) {
  for (const FileSector& s : entry.sectors) {
    if (std::find(states.begin(), states.end(), s.state) != states.end()) return &s;
  }
  return nullptr;
}

std::string damageText(const DamagedSector& d) {
  const bool table = d.what == "FAT" || d.what == "cluster table";
  if (d.copyUsed && d.differs) {
    return "damaged: the " + d.what + "s differ at sector " + sectorAddressText(d.address) +
           "; its copy at " + sectorAddressText(d.usedCopy) + " was used";
  }
  if (d.copyUsed) {
    return "damaged: " + d.what + " sector at " + sectorAddressText(d.address) + " is marked bad (" +
           statusMeaning(d.status) + "); its sound copy at " + sectorAddressText(d.usedCopy) +
           " was used";
  }
  std::string text = "damaged: " + fileNameText(FileSystemKind::kFat12, d.what) + " sector at " +
                     sectorAddressText(d.address);
  if (d.state == SectorState::kMarked) {
    text += std::string(" is marked bad") + (table ? " in every copy" : "") + " (" +
            statusMeaning(d.status) + "); read as it stands";
  } else {
    text += std::string(d.state == SectorState::kShort ? " is short" : " is missing") +
            (table ? " in every copy; its clusters read as free" : "; its entries are not listed");
  }
  return text;
}

std::string volumeNotesText(const Volume& v) {
  std::string text;
  for (const DamagedSector& d : v.damage) text += damageText(d) + "\n";
  for (const std::string& limit : v.limits) text += "not listed: " + fileNameText(v.kind, limit) + "\n";
  return text;
}

bool volumeHasNotes(const Volume& v) { return !v.damage.empty() || !v.limits.empty(); }

std::string fileNameText(FileSystemKind kind, const std::string& raw) {
  std::string out;
  if (kind != FileSystemKind::kFat12) {
    for (char ch : raw) {
      const auto byte = static_cast<unsigned char>(ch);
      if (byte >= 0xA1 && byte <= 0xDF) {
        appendHalfWidthKana(byte, &out);
      } else if (byte >= 0x80 || isControlByte(byte)) {
        out += escapedByte(byte);
      } else {
        out += ch;
      }
    }
    return out;
  }
  // Most names are plain ASCII: no converter is opened for them.
  if (!nameNeedsHex(raw)) return raw;
  ShiftJisConverter converter;
  for (std::size_t i = 0; i < raw.size();) {
    const auto byte = static_cast<unsigned char>(raw[i]);
    if (byte < 0x80) {
      out += isControlByte(byte) ? escapedByte(byte) : std::string(1, raw[i]);
      ++i;
      continue;
    }
    if (byte >= 0xA1 && byte <= 0xDF) {
      appendHalfWidthKana(byte, &out);
      ++i;
      continue;
    }
    const std::size_t length = shiftJisLength(byte);
    if (length == 2 && i + 1 < raw.size() && converter.available() &&
        converter.convert(raw.data() + i, 2, &out)) {
      i += 2;
      continue;
    }
    out += escapedByte(byte);
    ++i;
  }
  // A converter may give characters a terminal takes as controls.
  return safeUtf8(out);
}

bool nameNeedsHex(const std::string& raw) {
  return std::any_of(raw.begin(), raw.end(), [](char ch) {
    const auto b = static_cast<unsigned char>(ch);
    return b < 0x20 || b >= 0x7F;
  });
}

std::string hexText(const std::string& raw) {
  std::string hex;
  for (char ch : raw) {
    char digits[3];
    std::snprintf(digits, sizeof digits, "%02x", static_cast<unsigned>(static_cast<unsigned char>(ch)));
    hex += digits;
  }
  return hex;
}

const char* healthWord(FileHealth health) {
  switch (health) {
    case FileHealth::kWhole: return "whole";
    case FileHealth::kMarked: return "marked";
    case FileHealth::kIncomplete: return "incomplete";
    case FileHealth::kBrokenChain: return "broken chain";
  }
  return "?";
}

std::string chainProblemText(FileSystemKind kind, const FileEntry& entry) {
  const std::string& problem = entry.chainProblem;
  const std::string& owner = entry.sharedWith;
  if (!owner.empty() && problem.size() >= owner.size() &&
      problem.compare(problem.size() - owner.size(), owner.size(), owner) == 0) {
    return safeUtf8(problem.substr(0, problem.size() - owner.size())) + fileNameText(kind, owner);
  }
  return safeUtf8(problem);
}

std::string healthText(FileSystemKind kind, const FileEntry& entry) {
  switch (entry.health) {
    case FileHealth::kWhole:
      return "whole";
    case FileHealth::kBrokenChain:
      return (entry.deleted ? "deleted: " : "broken chain: ") + chainProblemText(kind, entry);
    case FileHealth::kIncomplete: {
      if (const FileSector* s = firstSectorIn(entry, {SectorState::kMissing, SectorState::kShort})) {
        return "incomplete: " + std::to_string(entry.missingSectors) + " of " +
               std::to_string(entry.sectors.size()) + " sectors missing, the first at " +
               sectorAddressText(s->address);
      }
      break;
    }
    case FileHealth::kMarked: {
      if (const FileSector* s = firstSectorIn(entry, {SectorState::kMarked})) {
        return "marked: " + std::to_string(entry.markedSectors) +
               (entry.markedSectors == 1 ? " sector" : " sectors") + " marked bad (" +
               statusMeaning(s->status) + "), the first at " + sectorAddressText(s->address);
      }
      break;
    }
  }
  return healthWord(entry.health);
}

std::string volumeText(const Volume& v) {
  std::string text = std::string("file system: ") + fileSystemName(v.kind) + " (" + v.layout +
                     "), because " + v.reason;
  if (!v.label.empty()) text += "; label \"" + fileNameText(v.kind, v.label) + "\"";
  text += "; " + groupedNumber(v.freeBytes) + " of " + groupedNumber(v.totalBytes) +
          " bytes free\n";
  return text;
}

std::string filesText(FileSystemKind kind, const std::vector<const FileEntry*>& files) {
  std::size_t width = 12;
  std::vector<std::string> names;
  names.reserve(files.size());
  for (const FileEntry* f : files) {
    names.push_back(fileNameText(kind, f->path) + (f->folder ? "/" : ""));
    width = std::max(width, std::min<std::size_t>(columns(names.back()), 40));
  }
  std::string out;
  for (std::size_t i = 0; i < files.size(); ++i) {
    const FileEntry& f = *files[i];
    std::string line = "  " + names[i];
    line.append(width > columns(names[i]) ? width - columns(names[i]) : 0, ' ');
    char size[32];
    std::snprintf(size, sizeof size, " %11s", f.folder ? "-" : groupedNumber(f.size).c_str());
    line += size;
    char rest[96];
    std::snprintf(rest, sizeof rest, "  %-17s %-4s %-16s  ",
                  (f.deleted ? f.type + " (deleted)" : f.type).c_str(),
                  f.attributes.empty() ? "-" : f.attributes.c_str(), dateText(f.date).c_str());
    line += rest;
    line += healthText(kind, f);
    out += line + "\n";
  }
  return out;
}

std::string filesErrorJson(const std::string& image, const std::string& reason) {
  return "{" + jsonPathMember("image", image) + ",\"error\":" + jsonString(safeUtf8(reason)) + "}\n";
}

std::string volumeJson(const std::string& image, int disk, const Volume& v) {
  std::string out = "{" + jsonPathMember("image", image) + ",\"disk\":" + std::to_string(disk) +
                    ",\"fileSystem\":" + jsonString(fileSystemName(v.kind)) +
                    ",\"layout\":" + jsonString(v.layout) + ",\"reason\":" + jsonString(v.reason) +
                    ",\"label\":" + jsonString(fileNameText(v.kind, v.label));
  if (nameNeedsHex(v.label)) out += ",\"labelHex\":\"" + hexText(v.label) + "\"";
  out += ",\"freeBytes\":" + std::to_string(v.freeBytes) +
         ",\"totalBytes\":" + std::to_string(v.totalBytes) +
         ",\"clusterBytes\":" + std::to_string(v.clusterBytes);
  if (!v.damage.empty()) {
    out += ",\"damage\":[";
    for (std::size_t i = 0; i < v.damage.size(); ++i) {
      const DamagedSector& d = v.damage[i];
      if (i != 0) out += ",";
      out += "{\"what\":" + jsonString(fileNameText(FileSystemKind::kFat12, d.what)) +
             ",\"track\":" + std::to_string(d.address.track) + ",\"c\":" + std::to_string(d.address.c) +
             ",\"h\":" + std::to_string(d.address.h) + ",\"r\":" + std::to_string(d.address.r) +
             ",\"n\":" + std::to_string(d.address.n) + ",\"state\":\"" + stateWord(d.state) + "\"";
      if (d.state == SectorState::kMarked) out += ",\"status\":" + jsonString(statusMeaning(d.status));
      if (d.copyUsed) {
        out += std::string(",\"differs\":") + (d.differs ? "true" : "false") +
               ",\"usedCopy\":{\"track\":" + std::to_string(d.usedCopy.track) +
               ",\"c\":" + std::to_string(d.usedCopy.c) + ",\"h\":" + std::to_string(d.usedCopy.h) +
               ",\"r\":" + std::to_string(d.usedCopy.r) + ",\"n\":" + std::to_string(d.usedCopy.n) + "}";
      }
      out += ",\"text\":" + jsonString(damageText(d)) + "}";
    }
    out += "]";
  }
  if (!v.limits.empty()) {
    out += ",\"limits\":[";
    for (std::size_t i = 0; i < v.limits.size(); ++i) {
      out += (i != 0 ? "," : "") + jsonString(fileNameText(v.kind, v.limits[i]));
    }
    out += "]";
  }
  out += "}\n";
  return out;
}

std::string fileJson(FileSystemKind kind, const FileEntry& f) {
  std::string out = "{\"path\":" + jsonString(fileNameText(kind, f.path));
  if (nameNeedsHex(f.path)) out += ",\"pathHex\":\"" + hexText(f.path) + "\"";
  out += ",\"folder\":" + std::string(f.folder ? "true" : "false") +
         ",\"deleted\":" + std::string(f.deleted ? "true" : "false") +
         ",\"size\":" + std::to_string(f.size) + ",\"type\":" + jsonString(f.type) +
         ",\"attributes\":" + jsonString(f.attributes) +
         ",\"date\":" + (f.date.known ? jsonString(isoDate(f.date)) : std::string("null")) +
         ",\"health\":" +
         jsonString(f.deleted && f.health == FileHealth::kBrokenChain ? "deleted" : healthWord(f.health)) +
         ",\"healthText\":" + jsonString(healthText(kind, f));
  if (f.health != FileHealth::kWhole) {
    out += ",\"missingSectors\":" + std::to_string(f.missingSectors) +
           ",\"markedSectors\":" + std::to_string(f.markedSectors);
    if (!f.chainProblem.empty()) out += ",\"chainProblem\":" + jsonString(chainProblemText(kind, f));
    out += ",\"sectors\":[";
    for (std::size_t i = 0; i < f.sectors.size(); ++i) {
      const FileSector& s = f.sectors[i];
      if (i != 0) out += ",";
      out += "{\"track\":" + std::to_string(s.address.track) + ",\"c\":" + std::to_string(s.address.c) +
             ",\"h\":" + std::to_string(s.address.h) + ",\"r\":" + std::to_string(s.address.r) +
             ",\"n\":" + std::to_string(s.address.n) + ",\"state\":\"" + stateWord(s.state) + "\"";
      if (s.state == SectorState::kMarked) out += ",\"status\":" + jsonString(statusMeaning(s.status));
      out += "}";
    }
    out += "]";
  }
  return out + "}\n";
}

bool pathMatches(FileSystemKind kind, const FileEntry& entry, const std::string& path, bool orWithin) {
  std::string wanted = path;
  while (wanted.size() > 1 && wanted.back() == '/') wanted.pop_back();
  for (const std::string& candidate : {entry.path, fileNameText(kind, entry.path)}) {
    std::string have = candidate;
    std::string want = wanted;
    if (kind == FileSystemKind::kFat12) {
      have = lowerAscii(have);
      want = lowerAscii(want);
    }
    if (have == want) return true;
    if (orWithin && have.size() > want.size() && have.compare(0, want.size(), want) == 0 &&
        have[want.size()] == '/') {
      return true;
    }
  }
  return false;
}

std::string safeHostName(const std::string& utf8, bool* changed) {
  std::string out;
  for (char ch : utf8) {
    const auto b = static_cast<unsigned char>(ch);
    const bool refused = b < 0x20 || b == 0x7F || ch == '/' || ch == '\\' || ch == ':' ||
                         ch == '*' || ch == '?' || ch == '"' || ch == '<' || ch == '>' || ch == '|';
    out += refused ? '_' : ch;
  }
  // Windows drops trailing dots and spaces, so two names would meet there.
  for (std::size_t i = out.size(); i > 0 && (out[i - 1] == '.' || out[i - 1] == ' '); --i) {
    out[i - 1] = '_';
  }
  if (out.empty() || out == "." || out == "..") out = "_" + out;
  // CON, PRN, AUX, NUL, COM1-9 and LPT1-9 are devices on Windows, with any extension.
  std::string stem = out.substr(0, out.find('.'));
  stem = lowerAscii(stem);
  while (!stem.empty() && stem.back() == ' ') stem.pop_back();
  static const char* const kDevices[] = {"con", "prn", "aux", "nul"};
  bool device = std::find(std::begin(kDevices), std::end(kDevices), stem) != std::end(kDevices);
  if (stem.size() == 4 && (stem.compare(0, 3, "com") == 0 || stem.compare(0, 3, "lpt") == 0) &&
      stem[3] >= '1' && stem[3] <= '9') {
    device = true;
  }
  if (device) out = "_" + out;
  *changed = out != utf8;
  return out;
}

}  // namespace d88
