// Benchmarks of the reader at scale and of the cutting job, each beside the
// plain system read it is measured against. Inputs are made by the image
// builder at start, in a temporary folder:
//   one.d88    one 2HD disk: 77 cylinders, 2 heads, 8 sectors of 1,024 bytes
//   many.d88   64 such disks back to back (about 82 MB)
//   rS.d88     one disk of 77 cylinders, 2 heads, S sectors of 128 bytes (N 0)
//              per track, made when a track-length case first asks for it
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "cut_file.h"
#include "cut_plan.h"
#include <d88/d88_image.h>
#include "d88_builder.h"

namespace {

constexpr int kDisks = 64;
constexpr int kTracks = 154;
constexpr int kSectors = 8;
constexpr int kSector = 1024;
constexpr int kDiskBytes = kTracks * kSectors * kSector;

struct Inputs {
  std::string dir;
  std::string one;
  std::string many;
  std::size_t manySize = 0;
  // File offset of the data of sector r (1 to 8) of `track` of disk `disk` of
  // many.d88: [(disk * kTracks + track) * kSectors + r - 1].
  std::vector<std::int64_t> manySectorData;
};

const Inputs& inputs() {
  static const Inputs in = [] {
    Inputs made;
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr ? tmp : "/tmp") + "/d88bench-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    made.dir = pattern;
    made.one = made.dir + "/one.d88";
    made.many = made.dir + "/many.d88";
    std::vector<d88build::Disk> disks;
    for (int i = 0; i < kDisks; ++i) disks.push_back(d88build::standardDisk(i));
    const d88build::Image built = d88build::build(disks);
    const d88build::Bytes& many = built.bytes;
    made.manySize = many.size();
    for (int disk = 0; disk < kDisks; ++disk) {
      for (int track = 0; track < kTracks; ++track) {
        for (int i = 0; i < kSectors; ++i) {
          made.manySectorData.push_back(
              static_cast<std::int64_t>(built.recordOffset(disk, track, i)) + 16);
        }
      }
    }
    if (!d88build::writeFile(made.many, many) ||
        !d88build::writeFile(made.one, d88build::build({disks[0]}).bytes)) {
      std::abort();
    }
    return made;
  }();
  return in;
}

d88::D88Image& openImage(const std::string& path) {
  static d88::D88Image image;
  if (!image.open(path.c_str())) std::abort();
  image.setSectorRange(1, kSectors);
  return image;
}

void BM_FreadCeiling(benchmark::State& state) {
  const Inputs& in = inputs();
  std::vector<std::uint8_t> buffer(in.manySize);
  for (auto _ : state) {
    std::FILE* f = std::fopen(in.many.c_str(), "rb");
    const std::size_t got = std::fread(buffer.data(), 1, buffer.size(), f);
    std::fclose(f);
    if (got != buffer.size()) state.SkipWithError("short read");
    benchmark::DoNotOptimize(buffer.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * in.manySize));
}

// The ceiling for reading the reader's way: the file read from start to end
// 1 MiB at a time into one buffer that stays in the processor's cache.
void BM_FreadChunks(benchmark::State& state) {
  const Inputs& in = inputs();
  static std::uint8_t buffer[1 << 20];
  for (auto _ : state) {
    std::FILE* f = std::fopen(in.many.c_str(), "rb");
    std::size_t total = 0;
    for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, f)) > 0;) total += got;
    std::fclose(f);
    if (total != in.manySize) state.SkipWithError("short read");
    benchmark::DoNotOptimize(buffer);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * in.manySize));
}

void BM_OpenDirectory64(benchmark::State& state) {
  const Inputs& in = inputs();
  d88::D88Image image;
  for (auto _ : state) {
    if (!image.open(in.many.c_str()) || image.diskCount() != kDisks) state.SkipWithError("open");
  }
  state.SetItemsProcessed(state.iterations() * kDisks);
}

// One run of all 1,232 sectors per disk, over the first `disks` disks.
void readAllSectors(benchmark::State& state, const std::string& path, int disks) {
  d88::D88Image& image = openImage(path);
  static std::uint8_t buffer[kDiskBytes];
  for (auto _ : state) {
    for (int disk = 0; disk < disks; ++disk) {
      image.selectDisk(disk);
      if (image.readSectors(0, 0, 0, 1, 3, buffer, kDiskBytes) != kDiskBytes) {
        state.SkipWithError("run incomplete");
      }
    }
    benchmark::DoNotOptimize(buffer);
  }
  state.SetBytesProcessed(state.iterations() * std::int64_t{disks} * kDiskBytes);
}

void BM_ReadSectorsAllDisks(benchmark::State& state) {
  readAllSectors(state, inputs().many, kDisks);
}
void BM_ReadSectorsOneDisk(benchmark::State& state) { readAllSectors(state, inputs().one, 1); }

// 4,096 sectors of many.d88 picked at random, taken disk by disk (so that a
// disk is selected 64 times a round, not at every sector) and in random order
// within each disk.
struct Pick {
  int disk, track, r;
};
const std::vector<Pick>& randomPicks() {
  static const std::vector<Pick> picks = [] {
    std::vector<Pick> made(4096);
    std::mt19937 random(12345);
    for (Pick& p : made) {
      p = {static_cast<int>(random() % kDisks), static_cast<int>(random() % kTracks),
           static_cast<int>(random() % kSectors) + 1};
    }
    std::stable_sort(made.begin(), made.end(),
                     [](const Pick& a, const Pick& b) { return a.disk < b.disk; });
    return made;
  }();
  return picks;
}

void BM_ReadSectorRandom(benchmark::State& state) {
  d88::D88Image& image = openImage(inputs().many);
  const std::vector<Pick>& picks = randomPicks();
  std::uint8_t buffer[kSector];
  std::size_t i = 0;
  int selected = -1;
  for (auto _ : state) {
    const Pick& p = picks[i++ % picks.size()];
    if (p.disk != selected) {
      selected = p.disk;
      image.selectDisk(selected);
    }
    if (image.readSector(p.track, p.track / 2, p.track % 2, p.r, 3, buffer, kSector) != kSector) {
      state.SkipWithError("sector missing");
    }
    benchmark::DoNotOptimize(buffer);
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * kSector);
}

// The same sectors read with one pread each at the offsets the builder put them.
void BM_PreadRandom(benchmark::State& state) {
  const Inputs& in = inputs();
  const std::vector<Pick>& picks = randomPicks();
  const int fd = ::open(in.many.c_str(), O_RDONLY);
  if (fd < 0) std::abort();
  std::uint8_t buffer[kSector];
  std::size_t i = 0;
  for (auto _ : state) {
    const Pick& p = picks[i++ % picks.size()];
    const std::size_t at = (static_cast<std::size_t>(p.disk) * kTracks + p.track) * kSectors + p.r - 1;
    if (pread(fd, buffer, kSector, in.manySectorData[at]) != kSector) {
      state.SkipWithError("short pread");
    }
    benchmark::DoNotOptimize(buffer);
  }
  close(fd);
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * kSector);
}

// readSectors of every sector of a disk whose tracks hold state.range(0)
// sectors of 128 bytes, sector range 1 to that count: the cost per sector
// (items_per_second) should not depend on the length of the track.
void BM_TrackLength(benchmark::State& state) {
  const int sectors = static_cast<int>(state.range(0));
  static std::map<int, std::string> files;
  std::string& path = files[sectors];
  if (path.empty()) {
    path = inputs().dir + "/r" + std::to_string(sectors) + ".d88";
    if (!d88build::writeFile(path, d88build::build({d88build::standardDisk(0, 77, 2, sectors, 0)}).bytes)) {
      std::abort();
    }
  }
  d88::D88Image image;
  if (!image.open(path.c_str())) std::abort();
  image.setSectorRange(1, sectors);
  const std::int32_t total = kTracks * sectors * 128;
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(total));
  for (auto _ : state) {
    image.selectDisk(0);
    if (image.readSectors(0, 0, 0, 1, 0, buffer.data(), total) != total) {
      state.SkipWithError("run incomplete");
    }
    benchmark::DoNotOptimize(buffer.data());
  }
  state.SetItemsProcessed(state.iterations() * kTracks * sectors);
  state.counters["records_per_track"] = sectors;
}

void BM_ListSectorIdsAllTracks(benchmark::State& state) {
  d88::D88Image& image = openImage(inputs().many);
  std::uint8_t ids[4 * 64];
  for (auto _ : state) {
    for (int disk = 0; disk < kDisks; ++disk) {
      image.selectDisk(disk);
      for (int track = 0; track < kTracks; ++track) {
        if (image.listSectorIds(track, ids, sizeof ids) != 4 * kSectors) {
          state.SkipWithError("listing short");
        }
      }
    }
  }
  state.SetItemsProcessed(state.iterations() * kDisks * kTracks);
}

// The twenty cuts on the one-disk image, into a scratch folder, with the
// progress lines sent to /dev/null.
void BM_CutJob(benchmark::State& state) {
  const Inputs& in = inputs();
  const std::string work = in.dir + "/cut";
  mkdir(work.c_str(), 0700);
  char previous[4096];
  if (getcwd(previous, sizeof previous) == nullptr || chdir(work.c_str()) != 0) std::abort();
  std::fflush(stdout);
  const int savedOut = dup(1);
  const int devNull = ::open("/dev/null", O_WRONLY);
  dup2(devNull, 1);
  std::int64_t bytes = 0;
  for (const d88::Cut& cut : d88::cutPlan()) bytes += cut.length;
  d88::Image image;
  std::vector<std::uint8_t> buffer;
  for (auto _ : state) {
    if (!d88::Image::open(in.one, &image).ok() || !image.selectDisk(0).ok() ||
        !d88::planFindsAnySector(image)) {
      state.SkipWithError("cut failed");
    }
    for (const d88::Cut& cut : d88::cutPlan()) {
      if (d88::cutFile(image, {nullptr}, cut, &buffer) !=
          d88::CutFileResult::kWhole) {
        state.SkipWithError("cut failed");
      }
    }
  }
  std::fflush(stdout);
  dup2(savedOut, 1);
  close(savedOut);
  close(devNull);
  if (chdir(previous) != 0) std::abort();
  state.SetBytesProcessed(state.iterations() * bytes);
  state.SetItemsProcessed(state.iterations() * d88::kCutCount);
}

BENCHMARK(BM_FreadCeiling)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FreadChunks)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenDirectory64)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ReadSectorsAllDisks)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadSectorsOneDisk)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadSectorRandom)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PreadRandom)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TrackLength)->Arg(8)->Arg(16)->Arg(26)->Arg(64)->Arg(128)->Arg(255)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ListSectorIdsAllTracks)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CutJob)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
