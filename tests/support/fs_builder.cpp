#include "fs_builder.h"

#include <algorithm>
#include <stdexcept>

namespace d88test {
namespace {

void putLE16(Bytes& b, std::size_t at, std::uint32_t v) {
  b[at] = static_cast<std::uint8_t>(v & 0xFF);
  b[at + 1] = static_cast<std::uint8_t>((v >> 8) & 0xFF);
}
void putLE32(Bytes& b, std::size_t at, std::uint32_t v) {
  putLE16(b, at, v & 0xFFFF);
  putLE16(b, at + 2, v >> 16);
}
// `text` into `size` bytes from `at`, padded with spaces.
void putPadded(Bytes& b, std::size_t at, const std::string& text, std::size_t size) {
  for (std::size_t i = 0; i < size; ++i) {
    b[at + i] = i < text.size() ? static_cast<std::uint8_t>(text[i]) : ' ';
  }
}

std::uint8_t mediaByteFor(int sizeCode, int sectorsPerTrack) {
  if (sizeCode == 3 || sectorsPerTrack >= 26) return 0x20;  // 2HD
  return 0x10;                                              // 2DD
}

}  // namespace

SectorDisk::SectorDisk(int cyl, int spt, int n, std::uint8_t mediaByte, std::uint8_t fill)
    : cylinders(cyl), sectorsPerTrack(spt), sizeCode(n), media(mediaByte),
      sectors(static_cast<std::size_t>(cyl * 2 * spt), Bytes(std::size_t{128} << n, fill)) {}

void SectorDisk::put(std::uint32_t sector, std::size_t offset, const Bytes& bytes) {
  const std::size_t size = sectorBytes();
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const std::size_t at = offset + i;
    sectors.at(sector + at / size)[at % size] = bytes[i];
  }
}

d88build::Disk SectorDisk::disk() const {
  d88build::Disk d;
  d.name = "FILES";
  d.mediaType = media;
  for (std::uint32_t k = 0; k < sectors.size(); ++k) {
    const int track = static_cast<int>(k) / sectorsPerTrack;
    auto& records = d.tracks[track];
    if (missing.count(k) != 0) continue;
    d88build::Record r = d88build::record(track / 2, track % 2, static_cast<int>(k) % sectorsPerTrack + 1,
                                          sizeCode, sectors[k]);
    const auto s = status.find(k);
    if (s != status.end()) r.status = s->second;
    records.push_back(std::move(r));
  }
  return d;
}

Bytes SectorDisk::image() const { return d88build::build({disk()}).bytes; }

Bytes fileBytes(int seed, std::size_t size) {
  Bytes b(size);
  std::uint32_t x = 0x9E3779B9u * static_cast<std::uint32_t>(seed + 1);
  for (std::size_t i = 0; i < size; ++i) {
    x = x * 1664525u + 1013904223u;
    b[i] = static_cast<std::uint8_t>(x >> 24);
  }
  return b;
}

FatFormat pc98HighDensity() {
  FatFormat f;
  f.bpb = false;
  return f;
}

FatFormat pc98DoubleDensity640() {
  FatFormat f;
  f.cylinders = 80;
  f.sectorsPerTrack = 8;
  f.sizeCode = 2;
  f.sectorsPerCluster = 2;
  f.rootEntries = 112;
  f.fatSectors = 2;
  f.media = 0xFB;
  f.bpb = false;
  return f;
}

// The boot sector's BPB, the FATs, the root folder, then the clusters from 2.
FatBuilder::FatBuilder(const FatFormat& format)
    : disk(format.cylinders, format.sectorsPerTrack, format.sizeCode,
           mediaByteFor(format.sizeCode, format.sectorsPerTrack), 0x00),
      f_(format) {
  Bytes& boot = disk.sectors[0];
  boot[0] = 0xEB;
  boot[1] = 0x3C;
  boot[2] = 0x90;
  if (f_.bpb) {
    putPadded(boot, 3, "TESTDISK", 8);
    putLE16(boot, 0x0B, static_cast<std::uint32_t>(disk.sectorBytes()));
    boot[0x0D] = static_cast<std::uint8_t>(f_.sectorsPerCluster);
    putLE16(boot, 0x0E, 1);
    boot[0x10] = static_cast<std::uint8_t>(f_.fats);
    putLE16(boot, 0x11, f_.rootEntries);
    putLE16(boot, 0x13, static_cast<std::uint32_t>(disk.sectors.size()));
    boot[0x15] = f_.media;
    putLE16(boot, 0x16, f_.fatSectors);
    putLE16(boot, 0x18, static_cast<std::uint32_t>(f_.sectorsPerTrack));
    putLE16(boot, 0x1A, 2);
  }
  setEntry(0, 0xF00u | f_.media);
  setEntry(1, 0xFFF);
}

std::uint32_t FatBuilder::clusters() const {
  const std::uint32_t bytes = static_cast<std::uint32_t>(disk.sectorBytes());
  const std::uint32_t dataStart = 1 + f_.fats * f_.fatSectors + f_.rootEntries * 32 / bytes;
  return (static_cast<std::uint32_t>(disk.sectors.size()) - dataStart) / f_.sectorsPerCluster;
}

std::uint64_t FatBuilder::clusterBytes() const { return f_.sectorsPerCluster * disk.sectorBytes(); }

std::uint32_t FatBuilder::sectorOf(std::uint32_t cluster, std::uint32_t index) const {
  const std::uint32_t bytes = static_cast<std::uint32_t>(disk.sectorBytes());
  const std::uint32_t dataStart = 1 + f_.fats * f_.fatSectors + f_.rootEntries * 32 / bytes;
  return dataStart + (cluster - 2) * f_.sectorsPerCluster + index;
}

void FatBuilder::setEntry(std::uint32_t cluster, std::uint32_t value) {
  const std::size_t bytes = disk.sectorBytes();
  for (std::uint32_t copy = 0; copy < f_.fats; ++copy) {
    const std::size_t base = (1 + copy * f_.fatSectors) * bytes;
    const std::size_t at = base + cluster * 3 / 2;
    Bytes& lo = disk.sectors[at / bytes];
    Bytes& hi = disk.sectors[(at + 1) / bytes];
    std::uint8_t& b0 = lo[at % bytes];
    std::uint8_t& b1 = hi[(at + 1) % bytes];
    if ((cluster & 1) == 0) {
      b0 = static_cast<std::uint8_t>(value & 0xFF);
      b1 = static_cast<std::uint8_t>((b1 & 0xF0) | ((value >> 8) & 0x0F));
    } else {
      b0 = static_cast<std::uint8_t>((b0 & 0x0F) | ((value << 4) & 0xF0));
      b1 = static_cast<std::uint8_t>((value >> 4) & 0xFF);
    }
  }
}

std::uint32_t FatBuilder::entry(std::uint32_t cluster) const {
  const std::size_t bytes = disk.sectorBytes();
  const std::size_t at = bytes + cluster * 3 / 2;
  const std::uint32_t pair = disk.sectors[at / bytes][at % bytes] |
                             (static_cast<std::uint32_t>(disk.sectors[(at + 1) / bytes][(at + 1) % bytes]) << 8);
  return (cluster & 1) != 0 ? pair >> 4 : pair & 0xFFF;
}

std::uint32_t FatBuilder::nextFree() const {
  for (std::uint32_t c = 2; c < clusters() + 2; ++c) {
    if (entry(c) == 0) return c;
  }
  throw std::runtime_error("the FAT volume is full");
}

void FatBuilder::addEntry(const std::string& folder, const Bytes& e) {
  if (folder.empty()) {
    const std::uint32_t bytes = static_cast<std::uint32_t>(disk.sectorBytes());
    disk.put(1 + f_.fats * f_.fatSectors, rootUsed_ * 32, e);
    ++rootUsed_;
    (void)bytes;
    return;
  }
  auto& f = folders_.at(folder);
  disk.put(sectorOf(f.first), f.second * 32, e);
  ++f.second;
}

namespace {
Bytes fatEntry(const std::string& name, std::uint8_t attributes, std::uint32_t cluster,
               std::uint32_t size, std::uint16_t date, std::uint16_t time) {
  Bytes e(32, 0);
  // "." and ".." are names of their own; any other dot starts the extension.
  const std::size_t dot = name == "." || name == ".." ? std::string::npos : name.find('.');
  putPadded(e, 0, name.substr(0, dot), 8);
  putPadded(e, 8, dot == std::string::npos ? "" : name.substr(dot + 1), 3);
  e[0x0B] = attributes;
  putLE16(e, 0x16, time);
  putLE16(e, 0x18, date);
  putLE16(e, 0x1A, cluster);
  putLE32(e, 0x1C, size);
  return e;
}
}  // namespace

std::uint32_t FatBuilder::addFile(const std::string& name, const Bytes& data, const std::string& folder,
                                  std::vector<std::uint32_t> clusters, std::uint16_t date,
                                  std::uint16_t time, std::uint8_t attributes) {
  const std::uint64_t size = clusterBytes();
  const std::size_t needed = static_cast<std::size_t>((data.size() + size - 1) / size);
  if (clusters.empty()) {
    for (std::size_t i = 0; i < needed; ++i) {
      clusters.push_back(nextFree());
      setEntry(clusters.back(), 0xFFF);
    }
  }
  for (std::size_t i = 0; i < clusters.size(); ++i) {
    setEntry(clusters[i], i + 1 < clusters.size() ? clusters[i + 1] : 0xFFF);
    const std::size_t from = i * static_cast<std::size_t>(size);
    if (from < data.size()) {
      const std::size_t to = std::min(data.size(), from + static_cast<std::size_t>(size));
      disk.put(sectorOf(clusters[i]), 0, Bytes(data.begin() + static_cast<std::ptrdiff_t>(from),
                                               data.begin() + static_cast<std::ptrdiff_t>(to)));
    }
  }
  const std::uint32_t first = clusters.empty() ? 0 : clusters.front();
  addEntry(folder, fatEntry(name, attributes, first, static_cast<std::uint32_t>(data.size()), date, time));
  return first;
}

void FatBuilder::addFolder(const std::string& name) {
  const std::uint32_t cluster = nextFree();
  setEntry(cluster, 0xFFF);
  addEntry("", fatEntry(name, 0x10, cluster, 0, 0x5021, 0x6000));
  folders_[name] = {cluster, 0};
  addEntry(name, fatEntry(".", 0x10, cluster, 0, 0x5021, 0x6000));
  addEntry(name, fatEntry("..", 0x10, 0, 0, 0x5021, 0x6000));
}

void FatBuilder::setLabel(const std::string& label) {
  Bytes e(32, 0);
  putPadded(e, 0, label, 11);
  e[0x0B] = 0x08;
  addEntry("", e);
}

FatBuilder fatWithManyEntries() {
  FatBuilder fat(FatFormat{});
  fat.addFolder("BIG");
  for (std::uint32_t c = 2; c < 262; ++c) fat.setEntry(c, c + 1);
  fat.setEntry(262, 0xFFF);
  // After "." and "..", 32 entries a cluster.
  for (std::uint32_t c = 2; c <= 262; ++c) {
    for (std::uint32_t k = c == 2 ? 2 : 0; k < 32; ++k) {
      Bytes e(32, 0);
      putPadded(e, 0, "E" + std::to_string(c * 32 + k), 11);
      e[0x0B] = 0x20;
      fat.disk.put(fat.sectorOf(c), k * 32, e);
    }
  }
  return fat;
}

// Each layout as the tests know it: where its table and directory stand,
// its clusters and its markers.
BasicBuilder::BasicBuilder(BasicLayout layout)
    : disk(40, 16, 1, 0x00, 0xFF), layout_(layout) {
  std::vector<std::uint32_t> reserved;
  switch (layout) {
    case BasicLayout::kN88_2D:
      clusters_ = 160, perCluster_ = 8, tableSector_ = 37 * 16 + 13, tableCopies_ = 3,
      dirSector_ = 37 * 16, reserved = {74, 75};
      break;
    case BasicLayout::kN88_2DD:
      disk = SectorDisk(80, 16, 1, 0x10, 0xFF);
      clusters_ = 160, perCluster_ = 16, tableSector_ = 80 * 16 + 13, tableCopies_ = 3,
      dirSector_ = 80 * 16, reserved = {80};
      break;
    case BasicLayout::kN88_2HD:
      disk = SectorDisk(77, 26, 1, 0x20, 0xFF);
      clusters_ = 154, perCluster_ = 26, tableSector_ = 70 * 26 + 23, tableCopies_ = 3,
      dirSector_ = 70 * 26, reserved = {0, 70};
      break;
    case BasicLayout::kFBasic2D:
      clusters_ = 152, perCluster_ = 8, dataStart_ = 64, tableSector_ = 32, dirSector_ = 35;
      disk.sectors[32] = Bytes(256, 0xFF);
      for (int i = 0; i < 5; ++i) disk.sectors[32][static_cast<std::size_t>(i)] = 0;
      disk.put(2, 0, Bytes{'S', 'Y', 'S'});
      break;
    case BasicLayout::kHuBasic2D:
    case BasicLayout::kHuBasic2DD:
    case BasicLayout::kHuBasic2HD:
      if (layout == BasicLayout::kHuBasic2HD) disk = SectorDisk(77, 26, 1, 0x20, 0x00);
      else if (layout == BasicLayout::kHuBasic2DD) disk = SectorDisk(80, 16, 1, 0x10, 0x00);
      else disk = SectorDisk(40, 16, 1, 0x00, 0x00);
      freeValue_ = 0x00;
      perCluster_ = 16;
      clusters_ = layout == BasicLayout::kHuBasic2HD ? 250 : layout == BasicLayout::kHuBasic2DD ? 160 : 80;
      tableSector_ = layout == BasicLayout::kHuBasic2HD ? 28 : 14;
      dirSector_ = layout == BasicLayout::kHuBasic2HD ? 32 : 16;
      for (std::uint32_t s = 0; s < 16; ++s) disk.sectors[dirSector_ + s] = Bytes(256, 0xFF);
      setLink(0, 1);
      setEnd(1, 16);
      if (layout == BasicLayout::kHuBasic2HD) setEnd(2, 16);
      break;
  }
  for (std::uint32_t c : reserved) setEntry(c, 0xFE);
}

std::uint32_t BasicBuilder::sectorOf(std::uint32_t cluster, std::uint32_t index) const {
  return dataStart_ + cluster * static_cast<std::uint32_t>(perCluster_) + index;
}

void BasicBuilder::setEntry(std::uint32_t cluster, std::uint8_t value) {
  switch (layout_) {
    case BasicLayout::kHuBasic2DD:
    case BasicLayout::kHuBasic2HD:
      disk.sectors[tableSector_ + cluster / 128][cluster % 128] = value;
      return;
    case BasicLayout::kFBasic2D:
      disk.sectors[tableSector_][5 + cluster] = value;
      return;
    default:
      for (std::uint32_t copy = 0; copy < tableCopies_; ++copy) {
        disk.sectors[tableSector_ + copy][cluster] = value;
      }
  }
}

std::uint8_t BasicBuilder::entry(std::uint32_t cluster) const {
  switch (layout_) {
    case BasicLayout::kHuBasic2DD:
    case BasicLayout::kHuBasic2HD:
      return disk.sectors[tableSector_ + cluster / 128][cluster % 128];
    case BasicLayout::kFBasic2D:
      return disk.sectors[tableSector_][5 + cluster];
    default:
      return disk.sectors[tableSector_][cluster];
  }
}

void BasicBuilder::setLink(std::uint32_t cluster, std::uint32_t next) {
  if (layout_ == BasicLayout::kHuBasic2HD || layout_ == BasicLayout::kHuBasic2DD) {
    setEntry(cluster, static_cast<std::uint8_t>(next & 0x7F));
    disk.sectors[tableSector_ + cluster / 128][128 + cluster % 128] = static_cast<std::uint8_t>(next >> 7);
    return;
  }
  setEntry(cluster, static_cast<std::uint8_t>(next));
}

// The end marker and its count of used sectors: N88 counts them, F-BASIC
// and Hu-BASIC give the last one used, from 0.
void BasicBuilder::setEnd(std::uint32_t cluster, int used) {
  switch (layout_) {
    case BasicLayout::kFBasic2D: setEntry(cluster, static_cast<std::uint8_t>(0xC0 + used - 1)); break;
    case BasicLayout::kHuBasic2D:
    case BasicLayout::kHuBasic2DD:
    case BasicLayout::kHuBasic2HD: setEntry(cluster, static_cast<std::uint8_t>(0x80 + used - 1)); break;
    default: setEntry(cluster, static_cast<std::uint8_t>(0xC0 + used)); break;
  }
}

bool BasicBuilder::isFree(std::uint32_t cluster) const {
  if ((layout_ == BasicLayout::kHuBasic2HD || layout_ == BasicLayout::kHuBasic2DD) &&
      disk.sectors[tableSector_ + cluster / 128][128 + cluster % 128] != 0) {
    return false;  // a link past cluster 127 has a low half of 0
  }
  return entry(cluster) == freeValue_;
}

std::uint32_t BasicBuilder::freeClusters() const {
  std::uint32_t n = 0;
  for (std::uint32_t c = 0; c < clusters_; ++c) {
    if (isFree(c)) ++n;
  }
  return n;
}

std::uint32_t BasicBuilder::addFile(const std::string& name, const std::string& ext, const Bytes& data,
                                    std::uint8_t kind) {
  const std::uint64_t size = clusterBytes();
  const std::size_t needed = std::max<std::size_t>(1, static_cast<std::size_t>((data.size() + size - 1) / size));
  std::vector<std::uint32_t> chain;
  for (std::uint32_t c = 0; c < clusters_ && chain.size() < needed; ++c) {
    if (isFree(c)) chain.push_back(c);
  }
  if (chain.size() < needed) throw std::runtime_error("the disk is full");
  for (std::size_t i = 0; i < chain.size(); ++i) {
    const std::size_t from = i * static_cast<std::size_t>(size);
    if (i + 1 < chain.size()) {
      setLink(chain[i], chain[i + 1]);
    } else {
      const std::size_t rest = data.size() - std::min(data.size(), from);
      setEnd(chain[i], std::max(1, static_cast<int>((rest + 255) / 256)));
    }
    if (from < data.size()) {
      const std::size_t to = std::min(data.size(), from + static_cast<std::size_t>(size));
      disk.put(sectorOf(chain[i]), 0, Bytes(data.begin() + static_cast<std::ptrdiff_t>(from),
                                            data.begin() + static_cast<std::ptrdiff_t>(to)));
    }
  }
  const std::uint32_t first = chain.front();
  switch (layout_) {
    case BasicLayout::kN88_2D:
    case BasicLayout::kN88_2DD:
    case BasicLayout::kN88_2HD: {
      Bytes e(16, 0xFF);
      putPadded(e, 0, name, 6);
      putPadded(e, 6, ext, 3);
      e[9] = kind;
      e[10] = static_cast<std::uint8_t>(first);
      disk.put(dirSector_, dirUsed_ * 16, e);
      break;
    }
    case BasicLayout::kFBasic2D: {
      Bytes e(32, 0x00);
      putPadded(e, 0, name, 8);
      e[0x0B] = kind;
      e[0x0E] = static_cast<std::uint8_t>(first);
      disk.put(dirSector_, dirUsed_ * 32, e);
      break;
    }
    case BasicLayout::kHuBasic2D:
    case BasicLayout::kHuBasic2DD:
    case BasicLayout::kHuBasic2HD: {
      Bytes e(32, 0x00);
      e[0] = kind;
      putPadded(e, 1, name, 13);
      putPadded(e, 0x0E, ext, 3);
      e[0x11] = 0x20;
      putLE16(e, 0x12, static_cast<std::uint32_t>(data.size()));
      const Bytes date{0x85, 0x61, 0x23, 0x12, 0x34};  // 1985-06-23 12:34, a Sunday
      for (std::size_t i = 0; i < date.size(); ++i) e[0x18 + i] = date[i];
      e[0x1E] = static_cast<std::uint8_t>(first & 0x7F);
      e[0x1F] = static_cast<std::uint8_t>(first >> 7);
      disk.put(dirSector_, dirUsed_ * 32, e);
      break;
    }
  }
  ++dirUsed_;
  return first;
}

}  // namespace d88test
