#include "d88_builder.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <utility>

#include <d88/writer.h>

#include "disk_plan_layout.h"

namespace d88build {

Record record(int c, int h, int r, int n, Bytes data) {
  Record rec;
  rec.c = static_cast<std::uint8_t>(c);
  rec.h = static_cast<std::uint8_t>(h);
  rec.r = static_cast<std::uint8_t>(r);
  rec.n = static_cast<std::uint8_t>(n);
  rec.data = std::move(data);
  return rec;
}
namespace {

constexpr std::size_t kHeaderSize = 0x2B0;
constexpr std::size_t kTableOffset = 0x20;

}  // namespace

void putByte(Bytes& bytes, std::size_t offset, std::uint8_t value) { bytes.at(offset) = value; }

void putLE16(Bytes& bytes, std::size_t offset, std::uint16_t value) {
  putByte(bytes, offset, static_cast<std::uint8_t>(value));
  putByte(bytes, offset + 1, static_cast<std::uint8_t>(value >> 8));
}

void putLE32(Bytes& bytes, std::size_t offset, std::uint32_t value) {
  putLE16(bytes, offset, static_cast<std::uint16_t>(value));
  putLE16(bytes, offset + 2, static_cast<std::uint16_t>(value >> 16));
}

std::size_t Image::recordOffset(int disk, int track, int index) const {
  return records.at(static_cast<std::size_t>(disk)).at(track).at(static_cast<std::size_t>(index));
}

namespace {

// Gives the writer each record's data from the builder's disk.
class BuilderSource : public d88::RecordSource {
 public:
  explicit BuilderSource(const Disk& disk) : disk_(disk) {}
  d88::Status data(int track, std::size_t index, const d88::RecordLayout& record,
                   std::uint8_t* buffer) override {
    const Bytes& bytes = disk_.tracks.at(track).at(index).data;
    std::copy_n(bytes.begin(), std::min<std::size_t>(bytes.size(), record.dataSize), buffer);
    return d88::Status();
  }

 private:
  const Disk& disk_;
};

// The sound disk that `disk` asks for, before its overrides: the writer's layout.
d88::DiskPlan soundLayout(const Disk& disk) {
  d88::DiskPlan layout;
  layout.name = disk.name.substr(0, 16);
  layout.writeProtect = disk.writeProtect;
  layout.mediaType = disk.mediaType;
  layout.tracks.resize(disk.tracks.empty() ? 0 : static_cast<std::size_t>(disk.tracks.rbegin()->first) + 1);
  for (const auto& [track, trackRecords] : disk.tracks) {
    for (const Record& record : trackRecords) {
      d88::RecordLayout r;
      r.id = {record.c, record.h, record.r, record.n};
      r.density = record.density;
      r.deletedMark = record.deletedMark;
      r.status = record.status;
      r.dataSize = static_cast<std::uint32_t>(record.data.size());
      layout.tracks[static_cast<std::size_t>(track)].push_back(r);
    }
  }
  return layout;
}

}  // namespace

Image build(const std::vector<Disk>& disks) {
  Image image;
  for (const Disk& disk : disks) {
    const std::size_t start = image.bytes.size();
    image.diskOffsets.push_back(start);
    image.records.emplace_back();
    auto& records = image.records.back();
    for (const auto& entry : disk.tracks) {
      if (entry.first < 0 || entry.first >= disk.tableEntries) {
        throw std::out_of_range("track not in table");
      }
    }
    for (const auto& entry : disk.sameAs) {
      if (entry.first < 0 || entry.first >= disk.tableEntries) {
        throw std::out_of_range("track not in table");
      }
    }

    // The sound disk, laid out by the writer; the overrides break it after.
    BuilderSource source(disk);
    d88::VectorSink sink(&image.bytes);
    std::vector<std::vector<std::uint64_t>> offsets;
    if (!d88::layOutDisk(soundLayout(disk), source, sink, &offsets).ok()) {
      throw std::runtime_error("the layout failed");
    }
    std::size_t size = image.bytes.size() - start;
    const auto entryAt = [&](int track) {
      return start + kTableOffset + 4 * static_cast<std::size_t>(track);
    };
    const auto entryOf = [&](int track) {
      const std::size_t at = entryAt(track);
      return static_cast<std::uint32_t>(image.bytes[at]) |
             static_cast<std::uint32_t>(image.bytes[at + 1]) << 8 |
             static_cast<std::uint32_t>(image.bytes[at + 2]) << 16 |
             static_cast<std::uint32_t>(image.bytes[at + 3]) << 24;
    };

    // A short table: the tracks move up to where it ends.
    std::size_t shift = 0;
    if (disk.tableEntries < 164) {
      const std::size_t headerSize = kTableOffset + 4 * static_cast<std::size_t>(disk.tableEntries);
      shift = kHeaderSize - headerSize;
      image.bytes.erase(image.bytes.begin() + static_cast<std::ptrdiff_t>(start + headerSize),
                        image.bytes.begin() + static_cast<std::ptrdiff_t>(start + kHeaderSize));
      size -= shift;
      for (int t = 0; t < disk.tableEntries; ++t) {
        if (const std::uint32_t entry = entryOf(t)) {
          putLE32(image.bytes, entryAt(t), static_cast<std::uint32_t>(entry - shift));
        }
      }
    }
    // A track listed with no records points where the next track starts,
    // or at the disk's end.
    std::map<int, std::uint32_t> entries;
    for (auto it = disk.tracks.rbegin(); it != disk.tracks.rend(); ++it) {
      const auto& [track, trackRecords] = *it;
      entries[track] = trackRecords.empty()
                           ? (entries.empty() ? static_cast<std::uint32_t>(size)
                                              : entries.begin()->second)
                           : entryOf(track);
      putLE32(image.bytes, entryAt(track), entries[track]);
    }
    for (const auto& [track, trackRecords] : disk.tracks) {
      for (std::size_t i = 0; i < trackRecords.size(); ++i) {
        const Record& record = trackRecords[i];
        const std::size_t at =
            start + static_cast<std::size_t>(offsets[static_cast<std::size_t>(track)][i]) - shift;
        records[track].push_back(at);
        if (record.sectorCount >= 0) {
          putLE16(image.bytes, at + 4, static_cast<std::uint16_t>(record.sectorCount));
        }
        if (record.dataSize >= 0) {
          putLE16(image.bytes, at + 0x0E, static_cast<std::uint16_t>(record.dataSize));
        }
      }
    }
    for (const auto& [track, other] : disk.sameAs) putLE32(image.bytes, entryAt(track), entries.at(other));
    // The 17th byte of a name, which the writer does not write.
    if (disk.name.size() > 16) image.bytes[start + 16] = static_cast<std::uint8_t>(disk.name[16]);
    putLE32(image.bytes, start + 0x1C,
            static_cast<std::uint32_t>(disk.diskSize >= 0 ? static_cast<std::size_t>(disk.diskSize)
                                                          : size));
  }
  return image;
}

std::uint8_t patternByte(int seed, int track, int r, std::size_t i) {
  // Distinct for every disk, track, sector and position within a few KiB,
  // so that a byte out of place shows.
  std::uint32_t x = static_cast<std::uint32_t>(seed) * 0x9E3779B1u ^
                    static_cast<std::uint32_t>(track) * 0x85EBCA77u ^
                    static_cast<std::uint32_t>(r) * 0xC2B2AE3Du ^
                    static_cast<std::uint32_t>(i) * 0x27D4EB2Fu;
  x ^= x >> 15;
  x *= 0x2C1B3C6Du;
  x ^= x >> 12;
  return static_cast<std::uint8_t>(x ^ (x >> 24));
}

Bytes sectorPattern(int seed, int track, int r, std::size_t size) {
  Bytes data(size);
  for (std::size_t i = 0; i < size; ++i) data[i] = patternByte(seed, track, r, i);
  return data;
}

Disk standardDisk(int seed, int cylinders, int heads, int sectors, int n) {
  Disk disk;
  disk.name = "DISK" + std::to_string(seed);
  const std::size_t size = std::size_t{128} << n;
  for (int track = 0; track < cylinders * heads; ++track) {
    auto& records = disk.tracks[track];
    for (int r = 1; r <= sectors; ++r) {
      Record record;
      record.c = static_cast<std::uint8_t>(track / heads);
      record.h = static_cast<std::uint8_t>(track % heads);
      record.r = static_cast<std::uint8_t>(r);
      record.n = static_cast<std::uint8_t>(n);
      record.data = sectorPattern(seed, track, r, size);
      records.push_back(std::move(record));
    }
  }
  return disk;
}

bool writeFile(const std::string& path, const Bytes& bytes) {
  // The path is UTF-8, on Windows too.
  std::ofstream out(std::filesystem::u8path(path), std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  out.close();
  return static_cast<bool>(out);
}

}  // namespace d88build
