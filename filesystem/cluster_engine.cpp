#include "cluster_engine.h"

#include <algorithm>
#include <cstring>

namespace d88 {
namespace fs {

SectorAddress logicalSector(const Geometry& geometry, std::uint32_t index) {
  const auto perTrack = static_cast<std::uint32_t>(geometry.sectorsPerTrack);
  const auto heads = static_cast<std::uint32_t>(geometry.heads);
  const std::uint32_t track = index / perTrack;
  const std::uint32_t cylinder = track / heads;
  const std::uint32_t head = track % heads;
  return SectorAddress{static_cast<std::int32_t>(cylinder * 2 + head),
                       static_cast<std::int32_t>(cylinder), static_cast<std::int32_t>(head),
                       geometry.firstR + static_cast<std::int32_t>(index % perTrack),
                       geometry.sizeCode};
}

std::uint32_t maxSectors(const Geometry& geometry) {
  if (geometry.heads < 1 || geometry.heads > 2 || geometry.sectorsPerTrack < 1) return 0;
  // Both sides of a cylinder take two table entries, whatever the heads.
  const auto cylinders = static_cast<std::uint32_t>(kTrackCount / 2);
  return cylinders * static_cast<std::uint32_t>(geometry.heads) *
         static_cast<std::uint32_t>(geometry.sectorsPerTrack);
}

SectorState DiskReader::inspect(const SectorAddress& address, std::uint8_t* status) {
  *status = 0;
  if (!image_.recordsOf(address, &records_).ok() || records_.empty()) return SectorState::kMissing;
  const SectorRecord& record = records_.front();
  if (record.dataAvailable < sectorBytes(address.n)) return SectorState::kShort;
  if (isMarkedBad(record.status)) {
    *status = record.status;
    return SectorState::kMarked;
  }
  return SectorState::kSound;
}

SectorState DiskReader::read(const SectorAddress& address, std::uint8_t* buffer,
                             std::int32_t bytes, std::uint8_t* status) {
  const SectorState state = inspect(address, status);
  std::int32_t got = 0;
  if (state != SectorState::kMissing) {
    (void)image_.readSector(address, buffer, bytes, &got);
    got = std::max<std::int32_t>(0, std::min(got, bytes));
  }
  if (got < bytes) std::memset(buffer + got, 0, static_cast<std::size_t>(bytes - got));
  return state;
}

bool DiskReader::readWhole(const SectorAddress& address, std::uint8_t* buffer, std::int32_t bytes) {
  std::uint8_t status = 0;
  const SectorState state = read(address, buffer, bytes, &status);
  return state == SectorState::kSound || state == SectorState::kMarked;
}

SectorState readBestCopy(DiskReader& reader, const std::vector<SectorAddress>& copies,
                         std::uint8_t* buffer, std::int32_t bytes, DamagedSector* damage) {
  // Rank each copy once; read only the one taken.
  const auto rank = [](SectorState s) {
    switch (s) {
      case SectorState::kSound: return 0;
      case SectorState::kMarked: return 1;
      case SectorState::kShort: return 2;
      case SectorState::kMissing: return 3;
    }
    return 3;
  };
  std::size_t best = 0;
  SectorState bestState = SectorState::kMissing;
  for (std::size_t i = 0; i < copies.size(); ++i) {
    std::uint8_t status = 0;
    const SectorState state = reader.inspect(copies[i], &status);
    if (rank(state) < rank(bestState)) {
      best = i;
      bestState = state;
      if (state == SectorState::kSound) break;
    }
  }
  std::uint8_t status = 0;
  const SectorState state = reader.read(copies[best], buffer, bytes, &status);
  if (state != SectorState::kSound && damage != nullptr) {
    damage->address = copies[best];
    damage->state = state;
    damage->status = status;
  }
  return state;
}

SectorState readTableSector(DiskReader& reader, const std::vector<SectorAddress>& copies,
                            std::size_t preferred, std::uint8_t* buffer, std::int32_t bytes,
                            const std::string& what, std::vector<DamagedSector>* damage) {
  std::vector<SectorState> states(copies.size());
  std::vector<std::uint8_t> statuses(copies.size(), 0);
  std::size_t used = copies.size();
  for (std::size_t i = 0; i < copies.size(); ++i) {
    states[i] = reader.inspect(copies[i], &statuses[i]);
    if (states[i] == SectorState::kSound && (used == copies.size() || i == preferred)) used = i;
  }
  if (used == copies.size()) {
    DamagedSector d;
    d.what = what;
    const SectorState state = readBestCopy(reader, copies, buffer, bytes, &d);
    if (state != SectorState::kSound) damage->push_back(std::move(d));
    return state;
  }
  std::uint8_t status = 0;
  (void)reader.read(copies[used], buffer, bytes, &status);
  std::vector<std::uint8_t> other;
  for (std::size_t i = 0; i < copies.size(); ++i) {
    if (i == used) continue;
    DamagedSector d;
    d.what = what;
    d.address = copies[i];
    d.state = states[i];
    d.status = statuses[i];
    d.copyUsed = true;
    d.usedCopy = copies[used];
    if (states[i] == SectorState::kMarked) {
      // Its bytes are not read: the sound copy stands in for them, but the
      // disk holds a sector the drive doubted.
      damage->push_back(std::move(d));
    } else if (states[i] == SectorState::kSound) {
      other.resize(static_cast<std::size_t>(bytes));
      (void)reader.read(copies[i], other.data(), bytes, &status);
      d.differs = std::memcmp(other.data(), buffer, other.size()) != 0;
      if (d.differs) damage->push_back(std::move(d));
    }
  }
  return SectorState::kSound;
}

bool readDirectorySector(DiskReader& reader, const SectorAddress& address, std::uint8_t* buffer,
                         std::int32_t bytes, const std::string& what,
                         std::vector<DamagedSector>* damage) {
  std::uint8_t status = 0;
  const SectorState state = reader.read(address, buffer, bytes, &status);
  if (state == SectorState::kSound) return true;
  DamagedSector d;
  d.what = what;
  d.address = address;
  d.state = state;
  d.status = status;
  damage->push_back(std::move(d));
  return state == SectorState::kMarked;
}

void ClusterOwners::claim(Chain* chain, const std::string& path) {
  std::uint32_t index = kNone;
  for (std::size_t i = 0; i < chain->clusters.size(); ++i) {
    const std::uint32_t cluster = chain->clusters[i];
    std::uint32_t& owner = owner_[cluster - first_];
    if (owner != kNone) {
      chain->problem = clusterText(cluster) + " also belongs to " + paths_[owner];
      chain->sharedWith = paths_[owner];
      chain->clusters.resize(i);
      return;
    }
    if (index == kNone) {
      index = static_cast<std::uint32_t>(paths_.size());
      paths_.push_back(path);
    }
    owner = index;
  }
}

void ClusterOwners::noteUnowned(const ClusterTable& table, std::uint32_t from,
                                std::vector<std::string>* limits) const {
  std::uint32_t count = 0;
  for (std::uint32_t c = std::max(from, first_); c < table.end(); ++c) {
    const Link::Kind kind = table.link(c).kind;
    if ((kind == Link::kNext || kind == Link::kEnd) && owner_[c - first_] == kNone) ++count;
  }
  if (count == 0) return;
  std::string number = std::to_string(count);
  for (std::size_t at = number.size(); at > 3; at -= 3) number.insert(at - 3, ",");
  limits->push_back(number + (count == 1 ? " cluster in use belongs" : " clusters in use belong") +
                    " to no listed file");
}

std::uint32_t ClusterTable::freeClusters() const {
  std::uint32_t count = 0;
  for (std::uint32_t c = first(); c < end(); ++c) {
    if (link(c).kind == Link::kFree) ++count;
  }
  return count;
}

std::string clusterText(std::uint32_t cluster) { return "cluster " + std::to_string(cluster); }

Chain walkChain(const ClusterTable& table, std::uint32_t start) {
  Chain chain;
  const std::uint32_t first = table.first();
  const std::uint32_t end = table.end();
  const auto rangeText = [&] {
    return " (clusters " + std::to_string(first) + " to " + std::to_string(end - 1) + ")";
  };
  if (start < first || start >= end) {
    chain.problem = "its first " + clusterText(start) + " is out of range" + rangeText();
    return chain;
  }
  // One mark per cluster: a cluster met twice is a loop, so the walk takes
  // at most end - first steps.
  std::vector<bool> seen(end - first, false);
  std::uint32_t cluster = start;
  for (;;) {
    if (seen[cluster - first]) {
      chain.problem = "a loop: " + clusterText(chain.clusters.back()) + " leads back to " +
                      clusterText(cluster);
      return chain;
    }
    seen[cluster - first] = true;
    chain.clusters.push_back(cluster);
    const Link link = table.link(cluster);
    switch (link.kind) {
      case Link::kEnd:
        chain.lastUsedSectors = link.usedSectors;
        // An end that counts no sector in use would drop its cluster
        // unseen: the table is damaged there.
        if (link.usedSectors == 0) chain.problem = clusterText(cluster) + " ends the chain with no sector in use";
        return chain;
      case Link::kFree:
        chain.problem = clusterText(cluster) + " of the chain is marked free";
        return chain;
      case Link::kReserved:
        chain.problem = clusterText(cluster) + " of the chain is marked reserved";
        return chain;
      case Link::kBad:
        chain.problem = clusterText(cluster) + " of the chain is marked bad";
        return chain;
      case Link::kNext:
        if (link.next < first || link.next >= end) {
          chain.problem = clusterText(cluster) + " leads to " + clusterText(link.next) +
                          ", out of range" + rangeText();
          return chain;
        }
        cluster = link.next;
        break;
    }
  }
}

void settleFile(DiskReader& reader, const ClusterTable& table, const Chain& chain, bool sizeKnown,
                FileEntry* entry) {
  const std::uint64_t sectorBytes = static_cast<std::uint64_t>(table.sectorBytes());
  const std::uint64_t clusterBytes = table.clusterBytes();
  const int perCluster = table.sectorsPerCluster();
  // The sectors the chain holds, its last cluster as far as its end entry says.
  std::uint64_t chainSectors = 0;
  for (std::size_t i = 0; i < chain.clusters.size(); ++i) {
    const bool last = i + 1 == chain.clusters.size();
    int used = perCluster;
    if (last && chain.problem.empty() && chain.lastUsedSectors >= 0) {
      used = std::min(chain.lastUsedSectors, perCluster);
    }
    chainSectors += static_cast<std::uint64_t>(used);
  }
  std::uint64_t wantedSectors = chainSectors;
  if (sizeKnown) {
    const std::uint64_t neededClusters = (entry->size + clusterBytes - 1) / clusterBytes;
    wantedSectors = (entry->size + sectorBytes - 1) / sectorBytes;
    if (chain.problem.empty()) {
      if (chain.clusters.size() < neededClusters) {
        entry->chainProblem = "the chain is shorter than its size: " +
                              std::to_string(chain.clusters.size()) + " of " +
                              std::to_string(neededClusters) + " clusters";
      } else if (chain.clusters.size() > neededClusters) {
        entry->chainProblem = "the chain is longer than its size: " +
                              std::to_string(chain.clusters.size()) + " clusters for " +
                              std::to_string(neededClusters);
      }
    }
  } else {
    entry->size = chainSectors * sectorBytes;
  }
  if (!chain.problem.empty()) {
    entry->chainProblem = chain.problem;
    entry->sharedWith = chain.sharedWith;
  }
  const std::uint64_t sectors = std::min(wantedSectors, chainSectors);
  entry->sectors.clear();
  entry->sectors.reserve(static_cast<std::size_t>(sectors));
  for (std::uint64_t k = 0; k < sectors; ++k) {
    FileSector sector;
    sector.address = table.sectorOf(chain.clusters[static_cast<std::size_t>(k / static_cast<std::uint64_t>(perCluster))],
                                    static_cast<int>(k % static_cast<std::uint64_t>(perCluster)));
    entry->sectors.push_back(sector);
  }
  weighSectors(reader, entry);
}

void weighSectors(DiskReader& reader, FileEntry* entry) {
  entry->missingSectors = 0;
  entry->markedSectors = 0;
  for (FileSector& sector : entry->sectors) {
    sector.state = reader.inspect(sector.address, &sector.status);
    if (sector.state == SectorState::kMissing || sector.state == SectorState::kShort) {
      ++entry->missingSectors;
    } else if (sector.state == SectorState::kMarked) {
      ++entry->markedSectors;
    }
  }
  if (!entry->chainProblem.empty()) {
    entry->health = FileHealth::kBrokenChain;
  } else if (entry->missingSectors > 0) {
    entry->health = FileHealth::kIncomplete;
  } else if (entry->markedSectors > 0) {
    entry->health = FileHealth::kMarked;
  } else {
    entry->health = FileHealth::kWhole;
  }
}

std::string trimmedField(const std::uint8_t* field, std::size_t size) {
  std::size_t length = size;
  while (length > 0 && (field[length - 1] == ' ' || field[length - 1] == 0)) --length;
  return std::string(reinterpret_cast<const char*>(field), length);
}

}  // namespace fs
}  // namespace d88
