// The library's writer: what it writes reads back through the reader as the
// same records, in the same order, with the same bytes and header fields,
// and what it cannot write so is refused with a Status, before any byte.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include <d88/image.h>
#include <d88/writer.h>

#include "d88_builder.h"

namespace {

using d88::DiskContent;
using d88::RecordContent;

RecordContent content(int c, int h, int r, int n, std::size_t bytes, int seed) {
  RecordContent record;
  record.id = {static_cast<std::uint8_t>(c), static_cast<std::uint8_t>(h),
               static_cast<std::uint8_t>(r), static_cast<std::uint8_t>(n)};
  record.data = d88build::sectorPattern(seed, c * 2 + h, r, bytes);
  return record;
}

// A disk with what a real dump holds besides plain sectors: twins with
// different bytes, a record out of R order, FM and deleted records, marks,
// a short and an empty record, absent tracks and a track in the last slot.
DiskContent awkwardDisk(int seed) {
  DiskContent disk;
  disk.name = "AWKWARD" + std::to_string(seed);
  disk.writeProtect = d88::kWriteProtected;
  disk.mediaType = d88::kMedia2D;
  disk.tracks.resize(d88::kTrackCount);
  for (int t : {0, 1, 5}) {
    for (int r = 1; r <= 16; ++r) disk.tracks[static_cast<std::size_t>(t)].push_back(content(t / 2, t % 2, r, 1, 256, seed));
  }
  auto& protectedTrack = disk.tracks[5];
  protectedTrack.push_back(content(2, 1, 3, 1, 256, seed + 1));  // a twin of R 3, other bytes
  protectedTrack.insert(protectedTrack.begin(), content(2, 1, 0xF7, 1, 256, seed));
  protectedTrack[2].density = d88::kDensitySingle;
  protectedTrack[3].deletedMark = d88::kDeletedDataMark;
  protectedTrack[3].status = d88::kStatusDeletedData;
  protectedTrack[4].status = d88::kStatusDataCrcError;
  protectedTrack[5].data.resize(100);  // short
  protectedTrack[6].data.clear();      // nothing at all
  disk.tracks[163].push_back(content(81, 1, 1, 3, 1024, seed));
  return disk;
}

void expectSameDisk(d88::Image& image, int index, const DiskContent& disk) {
  ASSERT_TRUE(image.selectDisk(index).ok());
  const d88::Disk& header = image.disk();
  EXPECT_EQ(header.name, disk.name);
  EXPECT_EQ(header.writeProtect, disk.writeProtect);
  EXPECT_EQ(header.mediaType, disk.mediaType);
  for (int t = 0; t < d88::kTrackCount; ++t) {
    const std::vector<RecordContent> none;
    const auto& want = static_cast<std::size_t>(t) < disk.tracks.size()
                           ? disk.tracks[static_cast<std::size_t>(t)]
                           : none;
    const d88::TrackWalk walk = image.walkTrack(t);
    EXPECT_EQ(header.tracks[static_cast<std::size_t>(t)] == 0, want.empty()) << "track " << t;
    ASSERT_EQ(walk.records.size(), want.size()) << "track " << t;
    for (std::size_t i = 0; i < want.size(); ++i) {
      const d88::SectorRecord& got = walk.records[i];
      SCOPED_TRACE("track " + std::to_string(t) + " record " + std::to_string(i));
      EXPECT_TRUE(d88::sameIdentity(got.id, want[i].id));
      EXPECT_EQ(got.recordCount, want.size());
      EXPECT_EQ(got.density, want[i].density);
      EXPECT_EQ(got.deletedMark, want[i].deletedMark);
      EXPECT_EQ(got.status, want[i].status);
      EXPECT_EQ(got.dataSize, want[i].data.size());
      std::vector<std::uint8_t> bytes(want[i].data.size() + 1);
      std::int32_t read = 0;
      ASSERT_TRUE(image.readRecord(got, bytes.data(), static_cast<std::int32_t>(bytes.size()), &read).ok());
      bytes.resize(static_cast<std::size_t>(read));
      EXPECT_EQ(bytes, want[i].data);
    }
  }
}

TEST(Writer, WhatItWritesReadsBackAsTheSameRecordsInOrder) {
  const std::vector<DiskContent> disks{awkwardDisk(1), awkwardDisk(2), DiskContent()};
  std::vector<std::uint8_t> bytes;
  d88::VectorSink sink(&bytes);
  ASSERT_TRUE(d88::writeDisks(disks, sink).ok());
  d88::Image image;
  ASSERT_TRUE(d88::Image::openMemory(bytes.data(), bytes.size(), &image).ok());
  ASSERT_EQ(image.disks().size(), disks.size());
  for (std::size_t k = 0; k < disks.size(); ++k) {
    SCOPED_TRACE("disk " + std::to_string(k));
    expectSameDisk(image, static_cast<int>(k), disks[k]);
  }
  // Each disk's size field is its bytes: the disks stand back to back.
  EXPECT_EQ(image.disks()[2].offset + d88::kDiskHeaderSize, static_cast<std::int64_t>(bytes.size()));
}

TEST(Writer, ANameOfSixteenBytesIsFollowedByAZeroByte) {
  DiskContent disk;
  disk.name = "ABCDEFGHIJKLMNOP";
  std::vector<std::uint8_t> bytes;
  d88::VectorSink sink(&bytes);
  ASSERT_TRUE(d88::writeDisks({disk}, sink).ok());
  EXPECT_EQ(bytes[16], 0);
  d88::Image image;
  ASSERT_TRUE(d88::Image::openMemory(bytes.data(), bytes.size(), &image).ok());
  EXPECT_EQ(image.disks().at(0).name, disk.name);
}

// The writer refuses, before writing a byte, each thing that would not read
// back as written.
TEST(Writer, RefusesWhatWouldNotReadBackAsWritten) {
  struct Case {
    const char* what;
    void (*change)(d88::DiskPlan&);
    const char* words;
  };
  const Case cases[] = {
      {"a record over 65,535 bytes",
       [](d88::DiskPlan& d) { d.tracks[0][0].dataSize = 0x10000; }, "65535"},
      {"257 records in a track",
       [](d88::DiskPlan& d) { d.tracks[0].resize(257, d.tracks[0][0]); }, "257 records"},
      {"a name of 17 bytes", [](d88::DiskPlan& d) { d.name = std::string(17, 'N'); }, "17 bytes"},
      {"a name with a zero byte", [](d88::DiskPlan& d) { d.name = std::string("A\0B", 3); },
       "zero byte"},
      {"a write-protect byte of 0x27", [](d88::DiskPlan& d) { d.writeProtect = 0x27; }, "0x27"},
      {"165 tracks", [](d88::DiskPlan& d) { d.tracks.resize(165); }, "165 tracks"},
      {"4 GiB", [](d88::DiskPlan& d) {
         d.tracks.assign(164, std::vector<d88::RecordLayout>(400, d.tracks[0][0]));
         for (auto& track : d.tracks) for (auto& r : track) r.dataSize = 0xFFFF;
       }, "under 4 GiB"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    d88::DiskPlan layout;
    layout.tracks.resize(1);
    layout.tracks[0].push_back(d88::RecordLayout{{0, 0, 1, 3}, 0, 0, 0, 1024});
    ASSERT_TRUE(d88::checkDiskPlan(layout, nullptr).ok());
    c.change(layout);
    const d88::Status checked = d88::checkDiskPlan(layout, nullptr);
    EXPECT_EQ(checked.code(), d88::Status::Code::kCorruption);
    EXPECT_NE(checked.message().find(c.words), std::string::npos) << checked.message();

    struct Zeros : d88::RecordSource {
      d88::Status data(int, std::size_t, const d88::RecordLayout&, std::uint8_t*) override {
        return d88::Status();
      }
    } zeros;
    std::vector<std::uint8_t> bytes;
    d88::VectorSink sink(&bytes);
    EXPECT_FALSE(d88::writeDisk(layout, zeros, sink).ok());
    EXPECT_TRUE(bytes.empty());
  }
}

TEST(Writer, RefusesMoreDisksThanAReaderFinds) {
  std::vector<std::uint8_t> bytes;
  d88::VectorSink sink(&bytes);
  EXPECT_FALSE(d88::writeDisks(std::vector<DiskContent>(d88::kMaxDisks + 1), sink).ok());
  EXPECT_TRUE(bytes.empty());
}

// A sink or a source that fails stops the writing with its own Status.
TEST(Writer, AFailureOfTheSourceStopsTheWritingWithItsReason) {
  struct Failing : d88::RecordSource {
    d88::Status data(int, std::size_t, const d88::RecordLayout&, std::uint8_t*) override {
      return d88::Status::ioError(5, "reading the dump");
    }
  } failing;
  d88::DiskPlan layout;
  layout.tracks.resize(1);
  layout.tracks[0].push_back(d88::RecordLayout{{0, 0, 1, 3}, 0, 0, 0, 1024});
  std::vector<std::uint8_t> bytes;
  d88::VectorSink sink(&bytes);
  const d88::Status s = d88::writeDisk(layout, failing, sink);
  EXPECT_EQ(s.code(), d88::Status::Code::kIoError);
  EXPECT_EQ(s.message(), "reading the dump");
}

}  // namespace
