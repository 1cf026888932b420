#include <d88/writer.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <new>
#include <string>

#include "d88_layout.h"
#include "disk_plan_layout.h"

namespace d88 {
namespace {

// Where each track starts, from the disk's start, and the disk's size.
std::uint64_t trackOffsets(const DiskPlan& layout, std::vector<std::uint64_t>* starts) {
  std::uint64_t at = kDiskHeaderSize;
  starts->assign(layout.tracks.size(), 0);
  for (std::size_t t = 0; t < layout.tracks.size(); ++t) {
    if (layout.tracks[t].empty()) continue;
    (*starts)[t] = at;
    for (const RecordLayout& record : layout.tracks[t]) at += kSectorHeaderSize + record.dataSize;
  }
  return at;
}

// Gives each record's data from its place in a DiskContent.
class ContentSource : public RecordSource {
 public:
  explicit ContentSource(const DiskContent& disk) : disk_(disk) {}
  Status data(int track, std::size_t index, const RecordLayout& record,
              std::uint8_t* buffer) override {
    const std::vector<std::uint8_t>& bytes =
        disk_.tracks[static_cast<std::size_t>(track)][index].data;
    std::memcpy(buffer, bytes.data(), std::min<std::size_t>(bytes.size(), record.dataSize));
    return Status();
  }

 private:
  const DiskContent& disk_;
};

}  // namespace

Status VectorSink::write(const std::uint8_t* data, std::size_t size) {
  bytes_->insert(bytes_->end(), data, data + size);
  return Status();
}

Status checkDiskPlan(const DiskPlan& layout, std::uint64_t* diskSize) {
  if (layout.name.size() > static_cast<std::size_t>(kNameLength)) {
    return Status::corruption("the disk name has " + std::to_string(layout.name.size()) +
                              " bytes; a D88 header holds at most " +
                              std::to_string(kNameLength));
  }
  if (layout.name.find('\0') != std::string::npos) {
    return Status::corruption("the disk name holds a zero byte, which would end it");
  }
  // Any other byte is one of the header flaws that make a reader take a
  // disk for another kind of file, once its records give no proof.
  if (layout.writeProtect != 0x00 && layout.writeProtect != kWriteProtected) {
    return Status::corruption("the write-protect byte is " + hexByte(layout.writeProtect) +
                              "; a D88 header holds 0x00 or 0x10");
  }
  if (layout.tracks.size() > static_cast<std::size_t>(kTrackCount)) {
    return Status::corruption("the disk has " + std::to_string(layout.tracks.size()) +
                              " tracks; a D88 track table holds " + std::to_string(kTrackCount));
  }
  std::vector<std::uint64_t> starts;
  const std::uint64_t size = trackOffsets(layout, &starts);
  if (size > kMaxWrittenDiskBytes) {
    return Status::corruption("the disk would take " + std::to_string(size) +
                              " bytes; a D88 disk is under 4 GiB");
  }
  for (std::size_t t = 0; t < layout.tracks.size(); ++t) {
    const std::vector<RecordLayout>& records = layout.tracks[t];
    if (records.size() > static_cast<std::size_t>(kMaxTrackRecords)) {
      return Status::corruption("track " + std::to_string(t) + " has " +
                                std::to_string(records.size()) + " records; a reader walks " +
                                std::to_string(kMaxTrackRecords) + " at most");
    }
    for (const RecordLayout& record : records) {
      if (record.dataSize > kMaxRecordDataBytes) {
        SectorAddress at{static_cast<std::int32_t>(t), record.id.c, record.id.h, record.id.r,
                         record.id.n};
        return Status::corruption(sectorAddressText(at) + " has " +
                                  std::to_string(record.dataSize) +
                                  " data bytes; a record holds at most " +
                                  std::to_string(kMaxRecordDataBytes));
      }
    }
  }
  if (diskSize != nullptr) *diskSize = size;
  return Status();
}

Status layOutDisk(const DiskPlan& layout, RecordSource& source, ByteSink& sink,
                  std::vector<std::vector<std::uint64_t>>* recordOffsets) {
  std::vector<std::uint64_t> starts;
  const std::uint64_t size = trackOffsets(layout, &starts);
  std::array<std::uint8_t, kDiskHeaderSize> header{};
  std::memcpy(header.data(), layout.name.data(),
              std::min<std::size_t>(layout.name.size(), kNameLength));
  header[kWriteProtectOffset] = layout.writeProtect;
  header[kMediaTypeOffset] = layout.mediaType;
  writeLE32(header.data() + kDiskSizeOffset, size);
  for (std::size_t t = 0; t < starts.size() && t < static_cast<std::size_t>(kTrackCount); ++t) {
    writeLE32(header.data() + kTrackTableOffset + 4 * t, starts[t]);
  }
  Status s = sink.write(header.data(), header.size());
  if (!s.ok()) return s;
  if (recordOffsets != nullptr) recordOffsets->assign(layout.tracks.size(), {});
  std::vector<std::uint8_t> data;
  for (std::size_t t = 0; t < layout.tracks.size(); ++t) {
    const std::vector<RecordLayout>& records = layout.tracks[t];
    std::uint64_t at = starts[t];
    for (std::size_t i = 0; i < records.size(); ++i) {
      const RecordLayout& record = records[i];
      std::array<std::uint8_t, kSectorHeaderSize> head{};
      head[kSectorCOffset] = record.id.c;
      head[kSectorHOffset] = record.id.h;
      head[kSectorROffset] = record.id.r;
      head[kSectorNOffset] = record.id.n;
      writeLE16(head.data() + kSectorCountOffset, static_cast<std::uint32_t>(records.size() & 0xFFFF));
      head[kDensityOffset] = record.density;
      head[kDeletedMarkOffset] = record.deletedMark;
      head[kStatusOffset] = record.status;
      writeLE16(head.data() + kDataSizeOffset, record.dataSize & 0xFFFF);
      if (recordOffsets != nullptr) (*recordOffsets)[t].push_back(at);
      at += kSectorHeaderSize + record.dataSize;
      s = sink.write(head.data(), head.size());
      if (!s.ok()) return s;
      if (record.dataSize == 0) continue;
      if (data.size() < record.dataSize) data.resize(record.dataSize);
      s = source.data(static_cast<int>(t), i, record, data.data());
      if (!s.ok()) return s;
      s = sink.write(data.data(), record.dataSize);
      if (!s.ok()) return s;
    }
  }
  return Status();
}

Status writeDisk(const DiskPlan& layout, RecordSource& source, ByteSink& sink) {
  const Status checked = checkDiskPlan(layout, nullptr);
  if (!checked.ok()) return checked;
  return layOutDisk(layout, source, sink, nullptr);
}

DiskPlan planOf(const DiskContent& disk) {
  DiskPlan layout;
  layout.name = disk.name;
  layout.writeProtect = disk.writeProtect;
  layout.mediaType = disk.mediaType;
  layout.tracks.resize(disk.tracks.size());
  for (std::size_t t = 0; t < disk.tracks.size(); ++t) {
    layout.tracks[t].reserve(disk.tracks[t].size());
    for (const RecordContent& content : disk.tracks[t]) {
      RecordLayout record;
      record.id = content.id;
      record.density = content.density;
      record.deletedMark = content.deletedMark;
      record.status = content.status;
      // A size past any field stays past it, so that the check refuses it.
      record.dataSize = static_cast<std::uint32_t>(
          std::min<std::size_t>(content.data.size(), std::size_t{0xFFFFFFFFu}));
      layout.tracks[t].push_back(record);
    }
  }
  return layout;
}

Status writeDisks(const std::vector<DiskContent>& disks, ByteSink& sink) {
  if (disks.size() > static_cast<std::size_t>(kMaxDisks)) {
    return Status::corruption(std::to_string(disks.size()) + " disks; a reader finds " +
                              std::to_string(kMaxDisks) + " at most");
  }
  std::vector<DiskPlan> layouts;
  layouts.reserve(disks.size());
  for (std::size_t k = 0; k < disks.size(); ++k) {
    layouts.push_back(planOf(disks[k]));
    const Status checked = checkDiskPlan(layouts.back(), nullptr);
    if (!checked.ok()) return Status::corruption("disk " + std::to_string(k) + ": " + checked.message());
  }
  for (std::size_t k = 0; k < disks.size(); ++k) {
    ContentSource source(disks[k]);
    const Status s = layOutDisk(layouts[k], source, sink, nullptr);
    if (!s.ok()) return s;
  }
  return Status();
}

}  // namespace d88
