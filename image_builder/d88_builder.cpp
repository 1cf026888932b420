#include "d88_builder.h"

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <utility>

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
constexpr std::size_t kRecordHeaderSize = 16;

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

Image build(const std::vector<Disk>& disks) {
  Image image;
  for (const Disk& disk : disks) {
    const std::size_t start = image.bytes.size();
    image.diskOffsets.push_back(start);
    image.records.emplace_back();
    auto& records = image.records.back();

    const std::size_t headerSize =
        disk.tableEntries >= 164 ? kHeaderSize
                                 : kTableOffset + 4 * static_cast<std::size_t>(disk.tableEntries);
    image.bytes.resize(start + headerSize, 0);
    for (std::size_t i = 0; i < disk.name.size() && i < 17; ++i) {
      image.bytes[start + i] = static_cast<std::uint8_t>(disk.name[i]);
    }
    image.bytes[start + 0x1A] = disk.writeProtect;
    image.bytes[start + 0x1B] = disk.mediaType;

    std::map<int, std::uint32_t> entries;
    for (const auto& [track, trackRecords] : disk.tracks) {
      if (track < 0 || track >= disk.tableEntries) throw std::out_of_range("track not in table");
      entries[track] = static_cast<std::uint32_t>(image.bytes.size() - start);
      putLE32(image.bytes, start + kTableOffset + 4 * static_cast<std::size_t>(track),
              entries[track]);
      for (const Record& record : trackRecords) {
        const std::size_t at = image.bytes.size();
        records[track].push_back(at);
        image.bytes.resize(at + kRecordHeaderSize, 0);
        image.bytes[at + 0] = record.c;
        image.bytes[at + 1] = record.h;
        image.bytes[at + 2] = record.r;
        image.bytes[at + 3] = record.n;
        image.bytes[at + 6] = record.density;
        image.bytes[at + 7] = record.deletedMark;
        image.bytes[at + 8] = record.status;
        const int count =
            record.sectorCount >= 0 ? record.sectorCount : static_cast<int>(trackRecords.size());
        const int size =
            record.dataSize >= 0 ? record.dataSize : static_cast<int>(record.data.size());
        putLE16(image.bytes, at + 4, static_cast<std::uint16_t>(count));
        putLE16(image.bytes, at + 0x0E, static_cast<std::uint16_t>(size));
        image.bytes.insert(image.bytes.end(), record.data.begin(), record.data.end());
      }
    }
    for (const auto& [track, other] : disk.sameAs) {
      if (track < 0 || track >= disk.tableEntries) throw std::out_of_range("track not in table");
      putLE32(image.bytes, start + kTableOffset + 4 * static_cast<std::size_t>(track),
              entries.at(other));
    }
    const std::size_t size = image.bytes.size() - start;
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
