#include "raw_file.h"

#include <cerrno>
#include <cstdio>
#include <vector>

namespace d88 {
namespace {

// Bytes of map text gathered before each write to its file.
constexpr std::size_t kMapWriteBytes = 64 * 1024;

class FileSink : public RawSink {
 public:
  FileSink(const RawGeometry& geometry, const char* outPath, const char* mapPath)
      : geometry_(geometry), outPath_(outPath), mapPath_(mapPath) {}

  // Starts both temporaries and the map's opening; false with the failure kept.
  bool start(int disk, std::uint8_t fill) {
    buffer_.reserve(kRawWriteBytes);
    if (!check(out_.start(outPath_), outPath_)) return false;
    if (mapPath_ == nullptr) return true;
    if (!check(map_.start(mapPath_), mapPath_)) return false;
    // "heads" is written for a one-head image only: a two-sided disk's map
    // stays as it always was.
    char head[160];
    std::snprintf(head, sizeof head,
                  "{\"disk\":%d,\"geometry\":{\"tracks\":%d,%s\"sectors\":%d,\"firstR\":%d,"
                  "\"sectorBytes\":%d,\"n\":%d},\"fill\":%u,\"entries\":[",
                  disk, geometry_.tracks, geometry_.heads == 1 ? "\"heads\":1," : "",
                  geometry_.sectors, geometry_.firstR,
                  static_cast<int>(sectorBytes(geometry_.sizeCode)), geometry_.sizeCode,
                  static_cast<unsigned>(fill));
    mapText_ = head;
    return true;
  }

  bool write(const std::uint8_t* data, std::size_t size) override {
    if (buffer_.size() + size > kRawWriteBytes && !flushOut()) return false;
    if (size >= kRawWriteBytes) return check(out_.append(data, size), outPath_);
    buffer_.insert(buffer_.end(), data, data + size);
    return true;
  }

  bool entry(const RawEntry& entry) override {
    if (mapPath_ == nullptr) return true;
    if (entries_++ > 0) mapText_ += ",";
    mapText_ += "\n" + rawEntryJson(entry);
    return mapText_.size() < kMapWriteBytes || flushMap();
  }

  // Ends the map with its counts and puts both files in place.
  bool commit(const RawSummary& summary) {
    if (!flushOut()) return false;
    if (mapPath_ != nullptr) {
      mapText_ += "\n],\"sectorsWritten\":" + std::to_string(summary.sectors) + ",\"counts\":{";
      for (int k = 0; k < kRawKinds; ++k) {
        mapText_ += std::string(k == 0 ? "" : ",") + "\"" + rawKindName(static_cast<RawKind>(k)) +
                    "\":" + std::to_string(summary.counts[static_cast<std::size_t>(k)]);
      }
      mapText_ += "},\"whole\":" + std::string(summary.whole() ? "true" : "false") + "}\n";
      if (!flushMap()) return false;
    }
    // Both files or neither: a map always stands beside its own raw image.
    PendingFile* const files[] = {&out_, &map_};
    std::size_t failed = 0;
    const WriteResult result =
        PendingFile::commitTogether(files, mapPath_ != nullptr ? 2 : 1, &failed);
    return check(result, failed == 0 ? outPath_ : mapPath_);
  }

  // Both temporaries go; what stands under the final names stays.
  void discard() {
    out_.discard();
    map_.discard();
  }

  const std::string& failedPath() const { return failedPath_; }
  const WriteResult& failure() const { return failure_; }

 private:
  bool check(const WriteResult& result, const char* path) {
    if (result.error == 0) return true;
    failure_ = result;
    failedPath_ = path;
    return false;
  }

  bool flushOut() {
    if (buffer_.empty()) return true;
    const bool ok = check(out_.append(buffer_.data(), buffer_.size()), outPath_);
    buffer_.clear();
    return ok;
  }

  bool flushMap() {
    const bool ok = check(
        map_.append(reinterpret_cast<const std::uint8_t*>(mapText_.data()), mapText_.size()),
        mapPath_);
    mapText_.clear();
    return ok;
  }

  const RawGeometry geometry_;
  const char* outPath_;
  const char* mapPath_;
  PendingFile out_;
  PendingFile map_;
  std::vector<std::uint8_t> buffer_;
  std::string mapText_;
  std::uint64_t entries_ = 0;
  std::string failedPath_;
  WriteResult failure_;
};

}  // namespace

RawFileResult writeRawFiles(Image& image, int disk, const RawGeometry& geometry,
                            std::uint8_t fill, const char* outPath, const char* mapPath) {
  RawFileResult result;
  FileSink sink(geometry, outPath, mapPath);
  if (sink.start(disk, fill)) {
    result.summary = convertToRaw(image, geometry, fill, sink);
    if (!result.summary.stopped && result.summary.failure.ok() && sink.commit(result.summary)) {
      return result;
    }
  }
  sink.discard();
  result.failedPath = sink.failedPath();
  result.written = sink.failure();
  return result;
}

}  // namespace d88
