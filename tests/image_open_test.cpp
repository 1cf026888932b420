// Opening an image: the factories (a path, standard input, memory, a
// caller's File), the reasons an open fails, moving an open image, the limit
// on a stream, and the decision whether a file is a D88 image at all.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <d88/d88_image.h>
#include <d88/image.h>

#include "d88_builder.h"
#include "test_files.h"
#include "test_support.h"

namespace {

using d88::Image;
using d88::Status;
using d88build::Bytes;
using d88build::Disk;
using d88build::Record;
using d88build::record;
using d88test::FileLog;
using d88test::TempDir;
using d88test::TestFile;

constexpr int kSector = 1024;


// Two small disks, each with track 0 (sectors 1 and 2) and track 3 (sector 1).
d88build::Image twoDisks() {
  std::vector<Disk> disks;
  for (int seed = 0; seed < 2; ++seed) {
    Disk disk;
    disk.name = "DISK" + std::to_string(seed);
    disk.tracks[0] = {record(0, 0, 1, 3, d88build::sectorPattern(seed, 0, 1, kSector)),
                      record(0, 0, 2, 3, d88build::sectorPattern(seed, 0, 2, kSector))};
    disk.tracks[3] = {record(1, 1, 1, 3, d88build::sectorPattern(seed, 3, 1, kSector))};
    disks.push_back(disk);
  }
  return d88build::build(disks);
}

// Whether `image` holds the two disks of twoDisks(), and reads them.
void expectTwoDisks(Image& image) {
  ASSERT_EQ(image.disks().size(), 2u);
  const d88build::Image built = twoDisks();
  for (int seed = 0; seed < 2; ++seed) {
    SCOPED_TRACE(seed);
    EXPECT_EQ(image.disks()[static_cast<std::size_t>(seed)].name, "DISK" + std::to_string(seed));
    EXPECT_EQ(image.disks()[static_cast<std::size_t>(seed)].offset,
              static_cast<std::int64_t>(built.diskOffsets[static_cast<std::size_t>(seed)]));
    ASSERT_TRUE(image.selectDisk(seed).ok());
    Bytes sector(kSector);
    std::int32_t got = 0;
    const Status s = image.readSector({3, 1, 1, 1, 3}, sector.data(), kSector, &got);
    EXPECT_TRUE(s.ok()) << s.toString();
    EXPECT_EQ(sector, d88build::sectorPattern(seed, 3, 1, kSector));
  }
}

// ---- the factories --------------------------------------------------------

TEST(ImageOpen, APathMemoryAndACallersFileGiveTheSameImage) {
  const Bytes bytes = twoDisks().bytes;
  TempDir dir;
  const std::string path = dir.write("two.d88", bytes);
  struct Case {
    const char* what;
    Status (*open)(const Bytes& bytes, const std::string& path, Image* image);
  };
  const Case cases[] = {
      {"path", [](const Bytes&, const std::string& p, Image* image) { return Image::open(p, image); }},
      {"memory",
       [](const Bytes& b, const std::string&, Image* image) {
         return Image::openMemory(b.data(), b.size(), image);
       }},
      {"a caller's file",
       [](const Bytes& b, const std::string&, Image* image) {
         return Image::openFile(TestFile::over(b), image);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Image image;
    const Status s = c.open(bytes, path, &image);
    ASSERT_TRUE(s.ok()) << s.toString();
    EXPECT_TRUE(image.isOpen());
    EXPECT_EQ(image.fileSize(), static_cast<std::int64_t>(bytes.size()));
    EXPECT_EQ(image.selectedDisk(), -1);
    expectTwoDisks(image);
  }
}

TEST(ImageOpen, TheImageOwnsACallersFileAndDestroysItWhenClosed) {
  const Bytes bytes = twoDisks().bytes;
  std::unique_ptr<TestFile> file = TestFile::over(bytes);
  const std::shared_ptr<FileLog> log = file->log();
  Image image;
  ASSERT_TRUE(Image::openFile(std::move(file), &image).ok());
  expectTwoDisks(image);
  EXPECT_FALSE(log->destroyed);
  image = Image();
  EXPECT_TRUE(log->destroyed);

  // Destroyed too when the open fails.
  std::unique_ptr<TestFile> zeros = TestFile::over(Bytes(4096, 0));
  const std::shared_ptr<FileLog> refusedLog = zeros->log();
  EXPECT_FALSE(Image::openFile(std::move(zeros), &image).ok());
  EXPECT_TRUE(refusedLog->destroyed);
  EXPECT_FALSE(image.isOpen());

  EXPECT_EQ(Image::openFile(nullptr, &image).code(), Status::Code::kNotOpen);
}

#ifndef _WIN32
// Opens "-" in a child process whose standard input is `fd`, and says by
// its exit status what it found: 0 when it reads twoDisks(), with a size
// (sized) or without one (a stream). The child closes `other` (a pipe's
// writing end), so that the pipe ends when the parent closes it.
pid_t openStandardInputFrom(int fd, bool sized, int other = -1) {
  const pid_t child = fork();
  if (child == 0) {
    if (other >= 0) close(other);
    if (dup2(fd, STDIN_FILENO) < 0) _exit(10);
    Image image;
    if (!Image::open("-", &image).ok()) _exit(11);
    if ((image.fileSize() >= 0) != sized) _exit(12);
    if (image.disks().size() != 2 || !image.selectDisk(1).ok()) _exit(13);
    Bytes sector(kSector);
    std::int32_t got = 0;
    if (!image.readSector({3, 1, 1, 1, 3}, sector.data(), kSector, &got).ok() ||
        sector != d88build::sectorPattern(1, 3, 1, kSector)) {
      _exit(14);
    }
    _exit(0);
  }
  return child;
}

TEST(ImageOpen, DashIsStandardInputWhetherAFileOrAPipe) {
  const Bytes bytes = twoDisks().bytes;
  TempDir dir;
  const std::string path = dir.write("two.d88", bytes);

  const int file = open(path.c_str(), O_RDONLY);
  ASSERT_GE(file, 0);
  int status = 0;
  const pid_t fromFile = openStandardInputFrom(file, true);
  close(file);
  ASSERT_GT(fromFile, 0);
  ASSERT_EQ(waitpid(fromFile, &status, 0), fromFile);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a file: status " << status;

  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  const pid_t fromPipe = openStandardInputFrom(ends[0], false, ends[1]);
  close(ends[0]);
  ASSERT_GT(fromPipe, 0);
  std::size_t written = 0;
  while (written < bytes.size()) {
    const ssize_t n = write(ends[1], bytes.data() + written, bytes.size() - written);
    if (n <= 0) break;
    written += static_cast<std::size_t>(n);
  }
  close(ends[1]);
  EXPECT_EQ(written, bytes.size());
  ASSERT_EQ(waitpid(fromPipe, &status, 0), fromPipe);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a pipe: status " << status;
}
#endif

// ---- why an open fails ----------------------------------------------------

TEST(ImageOpen, AMissingFileFailsWithTheSystemsReasonAndLeavesTheImageClosed) {
  TempDir dir;
  const std::string good = dir.write("two.d88", twoDisks().bytes);
  Image image;
  ASSERT_TRUE(Image::open(good, &image).ok());
  const Status missing = Image::open(dir.file("missing.d88"), &image);
  EXPECT_EQ(missing.code(), Status::Code::kCannotOpen);
  EXPECT_EQ(missing.errnum(), ENOENT);
  EXPECT_EQ(missing.reason(), std::strerror(ENOENT));
  EXPECT_FALSE(image.isOpen());
  EXPECT_TRUE(image.disks().empty());
  std::int32_t got = -1;
  Bytes sector(kSector);
  EXPECT_EQ(image.readSector({0, 0, 0, 1, 3}, sector.data(), kSector, &got).code(),
            Status::Code::kNotOpen);
  EXPECT_EQ(got, 0);
}

TEST(ImageOpen, AFolderIsNoImage) {
  TempDir dir;
  Image image;
  const Status s = Image::open(dir.path(), &image);
  EXPECT_EQ(s.code(), Status::Code::kIoError) << s.toString();
  EXPECT_NE(s.errnum(), 0);
  EXPECT_FALSE(image.isOpen());
}

// ---- moving an image ------------------------------------------------------

TEST(ImageMove, AMovedImageReadsOnAndTheOneMovedFromIsClosed) {
  const Bytes bytes = twoDisks().bytes;
  Image first;
  ASSERT_TRUE(Image::openMemory(bytes.data(), bytes.size(), &first).ok());
  ASSERT_TRUE(first.selectDisk(1).ok());

  Image second(std::move(first));
  EXPECT_EQ(second.selectedDisk(), 1);
  EXPECT_EQ(second.disk().name, "DISK1");
  expectTwoDisks(second);

  // The image moved from is closed: no disks, and every call says so.
  EXPECT_FALSE(first.isOpen());  // NOLINT(bugprone-use-after-move): the state after a move is the contract
  EXPECT_EQ(first.fileSize(), -1);
  EXPECT_TRUE(first.disks().empty());
  EXPECT_EQ(first.selectedDisk(), -1);
  EXPECT_EQ(first.disk().index, -1);
  EXPECT_EQ(first.selectDisk(0).code(), Status::Code::kNotOpen);
  Bytes sector(kSector);
  std::int32_t got = -1;
  EXPECT_EQ(first.readSector({0, 0, 0, 1, 3}, sector.data(), kSector, &got).code(),
            Status::Code::kNotOpen);
  EXPECT_TRUE(first.walkTrack(0).records.empty());
  EXPECT_TRUE(first.readRun({0, 0, 0, 1, 3}, {1, 8}, sector.data(), kSector).empty());
  std::size_t bytesGot = 1;
  EXPECT_EQ(first.readBytes(0, sector.data(), 16, &bytesGot).code(), Status::Code::kNotOpen);
  EXPECT_EQ(bytesGot, 0u);

  // Assigned over an open image: that image's file is closed, and the
  // assigned one reads on.
  std::unique_ptr<TestFile> file = TestFile::over(bytes);
  const std::shared_ptr<FileLog> log = file->log();
  Image third;
  ASSERT_TRUE(Image::openFile(std::move(file), &third).ok());
  third = std::move(second);
  EXPECT_TRUE(log->destroyed);
  expectTwoDisks(third);

  // An image moved from opens again.
  ASSERT_TRUE(Image::openMemory(bytes.data(), bytes.size(), &first).ok());
  expectTwoDisks(first);
}

// ---- the limit on a stream ------------------------------------------------

// A stream is read no further than its limit, plus one byte to learn whether
// it goes on: within the limit it reads as a file does, and a read that
// needs more fails with kTooLarge, which names the limit.
TEST(StreamLimit, AStreamIsReadNoFurtherThanItsLimit) {
  const d88build::Image two = twoDisks();
  const d88build::Image whole = d88build::build({d88build::standardDisk()});
  const std::uint64_t twoSize = two.bytes.size();
  const std::uint64_t mib = 1024 * 1024;
  struct Case {
    const char* what;
    const Bytes* bytes;
    std::uint64_t limit;
    Status::Code open;
    std::size_t disks;
    d88::SectorAddress sector;  // of disk disks - 1
    Status::Code read;
    const char* named;          // how a kTooLarge names the limit
  };
  const Case cases[] = {
      {"the first disk's header beyond the limit", &two.bytes, 500, Status::Code::kTooLarge, 0,
       {}, Status::Code::kOk, "500 bytes"},
      {"the limit at the stream's end", &two.bytes, twoSize, Status::Code::kOk, 2, {3, 1, 1, 1, 3},
       Status::Code::kOk, ""},
      {"the limit far past the stream's end", &two.bytes, 10 * twoSize, Status::Code::kOk, 2,
       {3, 1, 1, 1, 3}, Status::Code::kOk, ""},
      {"the last sector's last byte beyond the limit", &two.bytes, twoSize - 1,
       Status::Code::kOk, 2, {3, 1, 1, 1, 3}, Status::Code::kTooLarge, "bytes"},
      {"the second disk's header beyond the limit", &two.bytes, two.diskOffsets[1] + 100,
       Status::Code::kOk, 1, {3, 1, 1, 1, 3}, Status::Code::kOk, "bytes"},
      {"a sector past 1 MiB", &whole.bytes, mib, Status::Code::kOk, 1, {150, 75, 0, 1, 3},
       Status::Code::kTooLarge, "1 MiB"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::unique_ptr<TestFile> file = TestFile::over(*c.bytes, d88test::kStream);
    const std::shared_ptr<FileLog> log = file->log();
    d88::OpenOptions options;
    options.maxStreamBytes = c.limit;
    Image image;
    const Status opened = Image::openFile(std::move(file), &image, options);
    ASSERT_EQ(opened.code(), c.open) << opened.toString();
    if (!opened.ok()) {
      EXPECT_NE(opened.message().find(c.named), std::string::npos) << opened.message();
    } else {
      EXPECT_EQ(image.fileSize(), -1);
      ASSERT_EQ(image.disks().size(), c.disks);
      // The disks found before the limit read as usual; the search says why it stopped.
      if (c.disks == 1 && c.bytes == &two.bytes) {
        EXPECT_EQ(image.directoryEnd().code(), Status::Code::kTooLarge);
      }
      ASSERT_TRUE(image.selectDisk(static_cast<int>(c.disks) - 1).ok());
      Bytes sector(kSector);
      std::int32_t got = 0;
      const Status read = image.readSector(c.sector, sector.data(), kSector, &got);
      EXPECT_EQ(read.code(), c.read) << read.toString();
      if (read.ok()) {
        EXPECT_EQ(got, kSector);
        EXPECT_TRUE(image.readFailure().ok()) << image.readFailure().toString();
      } else {
        EXPECT_NE(read.message().find(c.named), std::string::npos) << read.message();
        EXPECT_EQ(image.readFailure().code(), Status::Code::kTooLarge);
      }
      // Raw bytes past the limit are refused the same way.
      std::size_t n = 0;
      const Status past =
          image.readBytes(static_cast<std::int64_t>(c.bytes->size()) - 1, sector.data(), 1, &n);
      EXPECT_EQ(past.ok(), c.limit >= c.bytes->size()) << past.toString();
    }
    EXPECT_FALSE(log->outOfTurn);
    EXPECT_LE(log->furthestEnd, c.limit + 1);
    EXPECT_LE(log->bytes, c.limit + 1);
  }
}

// ---- whether a file is a D88 image at all ---------------------------------

void putText(Bytes& bytes, std::size_t at, const std::string& text) {
  for (std::size_t i = 0; i < text.size(); ++i) bytes[at + i] = static_cast<std::uint8_t>(text[i]);
}

// The start of a 64-bit ELF executable: its header and a program header.
Bytes elfLike() {
  Bytes b(8192, 0);
  putText(b, 0, "\x7F" "ELF");
  b[4] = 2;  // 64-bit
  b[5] = 1;  // little-endian
  b[6] = 1;
  d88build::putLE16(b, 0x10, 2);      // an executable
  d88build::putLE16(b, 0x12, 0x3E);   // x86-64
  d88build::putLE32(b, 0x14, 1);
  d88build::putLE32(b, 0x18, 0x401000);  // entry point
  d88build::putLE32(b, 0x20, 64);        // program headers
  d88build::putLE32(b, 0x28, 0x1A40);    // section headers
  d88build::putLE16(b, 0x34, 64);
  d88build::putLE16(b, 0x36, 56);
  d88build::putLE16(b, 0x38, 2);
  d88build::putLE16(b, 0x3A, 64);
  d88build::putLE16(b, 0x3C, 5);
  d88build::putLE16(b, 0x3E, 4);
  d88build::putLE32(b, 64, 1);  // a loadable segment
  d88build::putLE32(b, 68, 5);
  d88build::putLE32(b, 64 + 16, 0x400000);
  for (std::size_t i = 0x200; i < b.size(); ++i) b[i] = d88build::patternByte(9, 0, 1, i);
  return b;
}

std::uint32_t crc32(const std::uint8_t* p, std::size_t n) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (std::size_t i = 0; i < n; ++i) {
    crc ^= p[i];
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

void putBE32(Bytes& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
}

// A PNG file: its signature, a header chunk, a data chunk and the end chunk.
Bytes pngLike() {
  Bytes b;
  const std::string signature = "\x89PNG\r\n\x1A\n";
  b.assign(signature.begin(), signature.end());
  const auto chunk = [&](const std::string& type, const Bytes& data) {
    const std::size_t at = b.size();
    b.resize(at + 12 + data.size());
    putBE32(b, at, static_cast<std::uint32_t>(data.size()));
    putText(b, at + 4, type);
    std::copy(data.begin(), data.end(), b.begin() + static_cast<long>(at + 8));
    putBE32(b, at + 8 + data.size(), crc32(b.data() + at + 4, 4 + data.size()));
  };
  Bytes header(13, 0);
  putBE32(header, 0, 64);  // width
  putBE32(header, 4, 48);  // height
  header[8] = 8;           // bit depth
  header[9] = 6;           // RGBA
  chunk("IHDR", header);
  chunk("IDAT", d88build::sectorPattern(5, 1, 2, 2000));
  chunk("IEND", Bytes());
  return b;
}

// A ZIP file's first local header, the name and some stored data.
Bytes zipLike() {
  Bytes b(30, 0);
  putText(b, 0, "PK\x03\x04");
  d88build::putLE16(b, 4, 20);
  d88build::putLE16(b, 8, 0);  // stored
  d88build::putLE32(b, 14, 0x1234ABCD);
  d88build::putLE32(b, 18, 3000);
  d88build::putLE32(b, 22, 3000);
  d88build::putLE16(b, 26, 8);
  const std::string name = "file.txt";
  b.insert(b.end(), name.begin(), name.end());
  const Bytes data = d88build::sectorPattern(6, 0, 1, 3000);
  b.insert(b.end(), data.begin(), data.end());
  return b;
}

Bytes textFile() {
  std::string text;
  while (text.size() < 3000) text += "The quick brown fox jumps over the lazy dog.\n";
  return Bytes(text.begin(), text.end());
}

// Damage to one of the disk header's fixed fields.
struct Damage {
  const char* what;
  void (*apply)(Bytes& bytes);
};

const Damage kSizeSmall{"size field below a header", [](Bytes& b) { d88build::putLE32(b, 0x1C, 0); }};
const Damage kSizeLarge{"size field past the file",
                        [](Bytes& b) { d88build::putLE32(b, 0x1C, 0x7FFFFFF0u); }};
const Damage kWriteProtect{"write-protect byte", [](Bytes& b) { b[0x1A] = 0x55; }};
const Damage kMedia{"media byte", [](Bytes& b) { b[0x1B] = 0x99; }};
const Damage kEntryPastEnd{"track 3 past the end of the file",
                           [](Bytes& b) { d88build::putLE32(b, 0x20 + 4 * 3, 0x7FFFFFF0u); }};
const Damage kEntryBack{"track 3 back into the table",
                        [](Bytes& b) { d88build::putLE32(b, 0x20 + 4 * 3, 0x24); }};

Bytes damaged(Bytes bytes, std::initializer_list<const Damage*> damages) {
  for (const Damage* d : damages) d->apply(bytes);
  return bytes;
}

// An unformatted disk: a sound header and an empty track table.
Bytes unformatted() { return d88build::build({Disk()}).bytes; }

// A disk whose only records cannot be taken as sectors.
Bytes withRecords(std::vector<Record> records, std::size_t cut = 0) {
  Disk disk;
  disk.tracks[0] = std::move(records);
  Bytes bytes = d88build::build({disk}).bytes;
  bytes.resize(bytes.size() - cut);
  return bytes;
}

struct Verdict {
  std::string what;
  Bytes bytes;
  const char* reason;  // a part of the reason given; nullptr: the file is kept
};

std::vector<Verdict> verdicts() {
  const Bytes sound = d88build::build({d88build::standardDisk(0, 3)}).bytes;
  Disk far;
  far.tracks[150] = {record(75, 0, 1, 3, d88build::sectorPattern(0, 150, 1, kSector))};
  const Bytes farTrack = d88build::build({far}).bytes;
  Record huge = record(0, 0, 1, 8, d88build::sectorPattern(0, 0, 1, 32768));
  Record sizeless = record(0, 0, 1, 3, Bytes());
  Record cutOff = record(0, 0, 1, 3, d88build::sectorPattern(0, 0, 1, kSector));
  std::vector<Verdict> v = {
      {"an ELF executable", elfLike(), "write-protect"},
      {"a PNG picture", pngLike(), "size field"},
      {"a ZIP archive", zipLike(), "write-protect"},
      {"a text file", textFile(), "media byte"},
      {"a file of zero bytes", Bytes(4096, 0), "all zero bytes"},
      {"two broken rules and sectors of 32 KiB", damaged(withRecords({huge}), {&kWriteProtect, &kMedia}),
       "no track of its first disk holds a sector record"},
      {"two broken rules and a record of no data", damaged(withRecords({sizeless}), {&kWriteProtect, &kMedia}),
       "no track"},
      {"two broken rules and a record whose data the file cuts off",
       damaged(withRecords({cutOff}, kSector), {&kWriteProtect, &kMedia}), "no track"},
      {"a file shorter than a disk header", Bytes(687, 0x41), nullptr},
      {"an unformatted disk", unformatted(), nullptr},
      {"a sound image", sound, nullptr},
      {"a sound image with two broken rules", damaged(sound, {&kWriteProtect, &kMedia}), nullptr},
      {"two broken rules and one good track far in",
       damaged(farTrack, {&kWriteProtect, &kMedia}), nullptr},
  };
  // One broken rule is damage, two are another kind of file, unless a track
  // holds a sector.
  const Damage* singles[] = {&kSizeSmall, &kSizeLarge, &kWriteProtect, &kMedia, &kEntryPastEnd, &kEntryBack};
  for (const Damage* d : singles) {
    v.push_back({std::string("an unformatted disk, its ") + d->what, damaged(unformatted(), {d}), nullptr});
    v.push_back({std::string("a sound image, its ") + d->what, damaged(sound, {d}), nullptr});
  }
  const Damage* rules[] = {&kSizeSmall, &kWriteProtect, &kMedia, &kEntryPastEnd};
  for (std::size_t i = 0; i < 4; ++i) {
    for (std::size_t j = i + 1; j < 4; ++j) {
      v.push_back({std::string("an unformatted disk, its ") + rules[i]->what + " and its " + rules[j]->what,
                   damaged(unformatted(), {rules[i], rules[j]}), "breaks 2"});
    }
  }
  v.push_back({"an unformatted disk, its track 3 back into the table and its write-protect byte",
               damaged(unformatted(), {&kEntryBack, &kWriteProtect}), "back into the track table"});
  return v;
}

TEST(NotD88Image, OtherFilesAreRefusedWithTheReasonAndDamagedImagesKept) {
  for (const Verdict& v : verdicts()) {
    SCOPED_TRACE(v.what);
    Image image;
    const Status s = Image::openMemory(v.bytes.data(), v.bytes.size(), &image);
    if (v.reason == nullptr) {
      EXPECT_TRUE(s.ok()) << s.toString();
      EXPECT_TRUE(image.isOpen());
      continue;
    }
    EXPECT_EQ(s.code(), Status::Code::kNotD88Image) << s.toString();
    EXPECT_NE(s.message().find(v.reason), std::string::npos) << s.message();
    EXPECT_FALSE(image.isOpen());
  }
}

// The kept interface refuses such a file too, and says why.
TEST(NotD88Image, D88ImageRefusesItToo) {
  TempDir dir;
  const std::string path = dir.write("zip.d88", zipLike());
  d88::D88Image image;
  // The file opened, as the kept contract has it; it holds no disk to read.
  EXPECT_TRUE(image.open(path.c_str()));
  EXPECT_EQ(image.status().code(), Status::Code::kNotD88Image);
  EXPECT_EQ(image.diskCount(), 0);
  EXPECT_FALSE(image.selectDisk(0));
}

// A dump cut off anywhere is a damaged image, never another kind of file:
// every record boundary of a two-disk image, and offsets between them.
TEST(NotD88Image, ATruncatedImageIsNeverRefused) {
  const d88build::Image built = d88build::build({d88build::standardDisk(0, 3), d88build::standardDisk(1, 3)});
  std::vector<std::size_t> lengths;
  for (std::size_t l = 0; l <= built.bytes.size(); l += 97) lengths.push_back(l);
  for (std::size_t d = 0; d < built.diskOffsets.size(); ++d) {
    lengths.push_back(built.diskOffsets[d] + d88::kDiskHeaderSize);
    for (const auto& [track, offsets] : built.records[d]) {
      for (std::size_t at : offsets) {
        for (std::size_t l : {at, at + 1, at + 15, at + 16, at + 17}) lengths.push_back(l);
      }
    }
  }
  for (std::size_t length : lengths) {
    Image image;
    const Status s = Image::openMemory(built.bytes.data(), length, &image);
    ASSERT_TRUE(s.ok()) << "cut at " << length << ": " << s.toString();
  }
}

// A file object that gives a few bytes at a time, as a network file may, is
// read whole: the reader asks again for the rest, whether the file tells its
// size or is a stream.
TEST(ImageOpen, AFileThatGivesFewBytesAtATimeIsReadWhole) {
  const Bytes bytes = twoDisks().bytes;
  for (const d88test::FileKind kind : {d88test::kSized, d88test::kStream}) {
    SCOPED_TRACE(kind == d88test::kSized ? "sized" : "stream");
    auto file = d88test::TestFile::over(bytes, kind);
    file->log()->mostPerRead = 100;
    Image image;
    ASSERT_TRUE(Image::openFile(std::move(file), &image).ok());
    expectTwoDisks(image);
  }
}

// Junk on a pipe is refused as no D88 image, not read on to the stream's
// limit and then reported as too large.
TEST(NotD88Image, JunkOnAStreamIsRefusedWithoutReadingToTheLimit) {
  Bytes junk(3u << 20);
  for (std::size_t i = 0; i < junk.size(); ++i) junk[i] = d88build::patternByte(9, 0, 0, i);
  junk[0x1A] = 0x55;  // a write-protect byte and a media byte no image has
  junk[0x1B] = 0x99;
  for (const std::uint64_t limit : {std::uint64_t{1} << 20, d88::kMaxStreamBytes}) {
    SCOPED_TRACE(limit);
    auto file = d88test::TestFile::over(junk, d88test::kStream);
    const std::shared_ptr<d88test::FileLog> log = file->log();
    Image image;
    d88::OpenOptions options;
    options.maxStreamBytes = limit;
    const Status s = Image::openFile(std::move(file), &image, options);
    EXPECT_EQ(s.code(), Status::Code::kNotD88Image) << s.toString();
    EXPECT_LE(log->bytes, std::min<std::uint64_t>(limit + 1, 17u << 20));
  }
}

// A read that fails while the check walks the first disk, on a disk that
// then shows a sector, is the check's own: the open succeeds with no read
// failure kept, and the work that follows reads afresh. When no track the
// check could read shows a sector, nothing is decided and the failure is
// the open's.
TEST(NotD88Image, AReadThatFailsInTheCheckIsNotKept) {
  // Track 0 holds one long record that is no sector, so that tracks 1 and 2
  // lie past the first bytes the open reads; read 2 is then track 1's.
  Disk disk;
  disk.tracks[0] = {record(0, 0, 1, 0, Bytes(30000, 0x00))};
  disk.tracks[1] = {record(0, 1, 1, 3, Bytes(kSector, 0x11))};
  disk.tracks[2] = {record(1, 0, 1, 3, Bytes(kSector, 0x22))};
  const Bytes bytes = damaged(d88build::build({disk}).bytes, {&kWriteProtect, &kMedia});

  auto file = d88test::TestFile::over(bytes);
  file->log()->failAt(2);
  Image image;
  ASSERT_TRUE(Image::openFile(std::move(file), &image).ok());
  EXPECT_TRUE(image.readFailure().ok()) << image.readFailure().toString();
  ASSERT_TRUE(image.selectDisk(0).ok());
  std::int32_t got = 0;
  Bytes sector(kSector);
  EXPECT_TRUE(image.readSector({1, 0, 1, 1, 3}, sector.data(), kSector, &got).ok());
  EXPECT_EQ(sector, Bytes(kSector, 0x11));

  auto failing = d88test::TestFile::over(bytes);
  failing->log()->failFrom(2);
  const Status s = Image::openFile(std::move(failing), &image);
  EXPECT_EQ(s.code(), Status::Code::kIoError) << s.toString();
}

// One byte of a record's data, as a dump cut off inside its first sector
// has, keeps the file an image, however its header looks.
TEST(NotD88Image, ARecordWithSomeOfItsDataKeepsTheFile) {
  const Bytes whole = withRecords({record(0, 0, 1, 3, Bytes(kSector, 0x33))});
  const Bytes cut(whole.begin(), whole.end() - (kSector - 1));
  Image image;
  const Bytes bytes = damaged(cut, {&kWriteProtect, &kMedia});
  EXPECT_TRUE(Image::openMemory(bytes.data(), bytes.size(), &image).ok());
}

}  // namespace

namespace {

// Reads every record of every track of disk 0; the first failure.
Status readEverything(Image& image) {
  if (!image.selectDisk(0).ok()) return image.readFailure();
  std::vector<std::uint8_t> data(0x10000);
  for (int t = 0; t < d88::kTrackCount; ++t) {
    const d88::TrackWalk walk = image.walkTrack(t);
    if (walk.end == d88::TrackEnd::kReadError) return walk.error;
    for (const d88::SectorRecord& r : walk.records) {
      std::int32_t got = 0;
      const Status s = image.readRecord(r, data.data(), static_cast<std::int32_t>(data.size()), &got);
      if (!s.ok()) return s;
    }
  }
  return image.readFailure();
}

// Images that share a budget hold no more together than it allows: the
// second stream that would pass it fails with the limit named, and what an
// image held is given back when it is closed, for the next to use.
TEST(MemoryBudget, ImagesThatShareOneHoldNoMoreTogether) {
  const Bytes disk = d88build::build({d88build::standardDisk(3)}).bytes;  // about 1.2 MiB
  // What one stream of the disk holds, read through.
  std::uint64_t one = 0;
  {
    d88::OpenOptions alone;
    alone.budget = std::make_shared<d88::MemoryBudget>(64u << 20);
    Image image;
    ASSERT_TRUE(Image::openFile(TestFile::over(disk, d88test::kStream), &image, alone).ok());
    ASSERT_TRUE(readEverything(image).ok());
    one = alone.budget->used();
    ASSERT_GT(one, disk.size());
  }
  // Room for both images' own keep, and one and a half streams' copies.
  const std::uint64_t copy = one - d88::kImageOverheadBytes;
  d88::OpenOptions options;
  options.budget =
      std::make_shared<d88::MemoryBudget>(2 * d88::kImageOverheadBytes + copy + copy / 2);
  Image first;
  Image second;
  ASSERT_TRUE(Image::openFile(TestFile::over(disk, d88test::kStream), &first, options).ok());
  ASSERT_TRUE(Image::openFile(TestFile::over(disk, d88test::kStream), &second, options).ok());
  EXPECT_TRUE(readEverything(first).ok());
  const Status refused = readEverything(second);
  EXPECT_EQ(refused.code(), Status::Code::kTooLarge) << refused.toString();
  EXPECT_NE(refused.reason().find("the inputs read at once may hold at most"), std::string::npos)
      << refused.reason();
  EXPECT_LE(options.budget->used(), options.budget->limit());

  first.close();
  ASSERT_TRUE(Image::openFile(TestFile::over(disk, d88test::kStream), &second, options).ok());
  EXPECT_TRUE(readEverything(second).ok());
  second.close();
  EXPECT_EQ(options.budget->used(), 0u);
}

// An image takes what it keeps besides a stream's copy when it opens, and
// a regular file nothing more however much of it is read: many of them share
// a budget that holds no file's bytes. The last that does not fit is refused
// at its open.
TEST(MemoryBudget, AnImageTakesItsOwnKeepWhenItOpensAndARegularFileNoMore) {
  Disk big;
  for (int t = 0; t < 2; ++t) {
    for (int r = 1; r <= 64; ++r) {
      big.tracks[t].push_back(record(0, t, r, 7, Bytes(16384, static_cast<std::uint8_t>(r))));
    }
  }
  const Bytes disk = d88build::build({big}).bytes;  // 2 MiB of sectors
  d88::OpenOptions options;
  options.budget = std::make_shared<d88::MemoryBudget>(3 * d88::kImageOverheadBytes);
  std::vector<Image> images(3);
  for (Image& image : images) {
    ASSERT_TRUE(Image::openFile(TestFile::over(disk), &image, options).ok());
    EXPECT_TRUE(readEverything(image).ok());
  }
  EXPECT_EQ(options.budget->used(), 3 * d88::kImageOverheadBytes);
  Image fourth;
  EXPECT_EQ(Image::openFile(TestFile::over(disk), &fourth, options).code(),
            Status::Code::kTooLarge);
  images.clear();
  EXPECT_EQ(options.budget->used(), 0u);
}

}  // namespace
