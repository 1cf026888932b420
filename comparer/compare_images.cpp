#include "compare_images.h"
#include "open_image.h"

#include <algorithm>
#include <new>
#include <vector>

#include <d88/image.h>

#include "console.h"
#include "disk_compare.h"
#include "text_format.h"

namespace d88 {
namespace {

// Output is handed on in pieces of about this size.
constexpr std::size_t kPiece = 64 * 1024;

// The report as it is made: text or JSON, handed to the sink in pieces.
class Report {
 public:
  Report(bool json, const ListingSink* sink) : json_(json), sink_(sink) {
    out_.reserve(2 * kPiece);
  }

  bool quiet() const { return sink_ == nullptr; }
  bool failed() const { return failed_; }

  void begin(const std::string& pathA, const std::string& pathB) {
    if (!json_) return;
    out_ += "{" + jsonPathMember("imageA", pathA) + "," + jsonPathMember("imageB", pathB) +
            ",\"disks\":[";
  }

  void beginDisk(int index) {
    firstDifference_ = true;
    diskOpen_ = true;
    if (!json_) return;
    if (disks_++ != 0) out_ += ',';
    out_ += "{\"index\":" + std::to_string(index) + ",\"differences\":[";
  }

  // One sector that is not the same; false when the sink refused.
  bool difference(int disk, const SectorComparison& s) {
    if (json_) {
      if (!firstDifference_) out_ += ',';
      out_ += "{\"track\":" + std::to_string(s.address.track) + ",\"c\":" +
              std::to_string(s.address.c) + ",\"h\":" + std::to_string(s.address.h) +
              ",\"r\":" + std::to_string(s.address.r) + ",\"n\":" + std::to_string(s.address.n) +
              ",\"kind\":" + jsonString(sectorKindText(s.kind)) +
              ",\"detail\":" + jsonString(s.detail);
      if (s.inA) out_ += ",\"a\":" + recordJson(s.a);
      if (s.inB) out_ += ",\"b\":" + recordJson(s.b);
      out_ += '}';
    } else {
      out_ += "disk " + std::to_string(disk) + ": " + sectorAddressText(s.address) + ": " +
              sectorKindText(s.kind) + (s.detail.empty() ? "" : " (" + s.detail + ")") + "\n";
    }
    firstDifference_ = false;
    return handOn(false);
  }

  // A track that shares an earlier track's records, in place of its sectors,
  // which the earlier track's lines already show; false when the sink refused.
  bool sharedTrack(int disk, const SharedTrack& s) {
    if (json_) {
      if (!firstDifference_) out_ += ',';
      out_ += "{\"track\":" + std::to_string(s.track) + ",\"sameAs\":" +
              std::to_string(s.sameAs) + "}";
    } else {
      out_ += "disk " + std::to_string(disk) + ": track " + std::to_string(s.track) +
              ": the same records as track " + std::to_string(s.sameAs) + "\n";
    }
    firstDifference_ = false;
    return handOn(false);
  }

  bool endDisk(const DiskComparison& d) {
    diskOpen_ = false;
    const std::string summary = summaryText(d);
    if (json_) {
      out_ += "],\"inA\":" + std::string(d.inA ? "true" : "false") +
              ",\"inB\":" + (d.inB ? "true" : "false") + ",\"notes\":[";
      for (std::size_t i = 0; i < d.notes.size(); ++i) {
        out_ += (i != 0 ? "," : "") + jsonString(d.notes[i]);
      }
      out_ += "],\"sectors\":" + std::to_string(d.sectors);
      for (int k = 0; k < kSectorKinds; ++k) {
        out_ += "," + jsonString(kindKey(static_cast<SectorKind>(k))) + ":" +
                std::to_string(d.counts[static_cast<std::size_t>(k)]);
      }
      out_ += ",\"identical\":" + std::string(d.same() ? "true" : "false") +
              ",\"summary\":" + jsonString(summary) + "}";
    } else {
      for (const std::string& note : d.notes) {
        out_ += "disk " + std::to_string(d.index) + ": note: " + note + "\n";
      }
      out_ += summary + "\n";
    }
    return handOn(false);
  }

  // Ends the report: how the comparison came out, and what failed.
  bool end(int status, const std::string& error) {
    if (json_) {
      // A disk whose comparison failed part way: what was found of it.
      if (diskOpen_) out_ += "],\"incomplete\":true}";
      out_ += "]";
      if (!error.empty()) out_ += ",\"error\":" + jsonString(safeUtf8(error));
      out_ += ",\"same\":" + std::string(status == kCompareSame ? "true" : "false") +
              ",\"status\":" + std::to_string(status) + "}\n";
    }
    return handOn(true);
  }

 private:
  static std::string recordJson(const SectorRecord& r) {
    return "{\"status\":" + std::to_string(r.status) +
           ",\"statusMeaning\":" + jsonString(statusMeaning(r.status)) +
           ",\"sound\":" + (isSoundRecord(r) ? "true" : "false") +
           ",\"density\":" + std::to_string(r.density) +
           ",\"deletedMark\":" + std::to_string(r.deletedMark) +
           ",\"dataSize\":" + std::to_string(r.dataSize) +
           ",\"dataAvailable\":" + std::to_string(r.dataAvailable) +
           ",\"offset\":" + std::to_string(r.headerOffset) + "}";
  }

  // The kind as a JSON member name: "same", "betterInA", ...
  static const char* kindKey(SectorKind kind) {
    switch (kind) {
      case SectorKind::kSame:
        return "same";
      case SectorKind::kBetterInA:
        return "betterInA";
      case SectorKind::kBetterInB:
        return "betterInB";
      case SectorKind::kDiffers:
        return "differs";
      case SectorKind::kBadInBoth:
        return "badInBoth";
      case SectorKind::kOnlyInA:
        return "onlyInA";
      case SectorKind::kOnlyInB:
        return "onlyInB";
    }
    return "unknown";
  }

  // "disk 0: 1232 sectors: 1229 same, 2 better in A, 1 differs", or for a
  // disk of one file "disk 1: only in A (1232 sectors)".
  static std::string summaryText(const DiskComparison& d) {
    const std::string head = "disk " + std::to_string(d.index) + ": ";
    const std::string sectors =
        std::to_string(d.sectors) + (d.sectors == 1 ? " sector" : " sectors");
    if (!d.inA || !d.inB) return head + (d.inA ? "only in A (" : "only in B (") + sectors + ")";
    std::string counts;
    for (int k = 0; k < kSectorKinds; ++k) {
      const int n = d.counts[static_cast<std::size_t>(k)];
      if (n == 0) continue;
      counts += (counts.empty() ? "" : ", ") + std::to_string(n) + " " +
                sectorKindText(static_cast<SectorKind>(k));
    }
    return head + sectors + (counts.empty() ? "" : ": " + counts);
  }

  // Hands the report on when a piece is full, or at the end; false when the
  // sink refused (nothing more is handed on then).
  bool handOn(bool last) {
    if (sink_ == nullptr) {
      out_.clear();
      return true;
    }
    if (failed_) return false;
    if ((last && !out_.empty()) || out_.size() >= kPiece) {
      failed_ = !(*sink_)(out_);
      out_.clear();
    }
    return !failed_;
  }

  bool json_;
  const ListingSink* sink_;
  std::string out_;
  int disks_ = 0;
  bool firstDifference_ = true;
  bool diskOpen_ = false;
  bool failed_ = false;
};

// Opens one image; false, with the message, when it cannot be opened or
// read, is no D88 image, or holds no disk. Two files are called the same only
// when both are D88 images.
bool open(Image& image, const char* path, const OpenOptions& options, std::string* error) {
  const OpenOutcome opened = openImage(path, &image, nullptr, options);
  if (!opened.ok()) {
    *error = opened.text;
    return false;
  }
  // A failed read that stopped the search for disks would hide disks.
  if (!image.directoryEnd().ok()) {
    *error = cannotReadText(path, image.directoryEnd());
    return false;
  }
  return true;
}

int compareOpened(Image& a, Image& b, const char* pathA, const char* pathB, Report& report,
                  std::string* error) {
  const int disks = static_cast<int>(std::max(a.disks().size(), b.disks().size()));
  bool differ = false;
  for (int k = 0; k < disks; ++k) {
    report.beginDisk(k);
    DiskComparison disk;
    CompareFailure failure;
    bool stoppedAtDifference = false;
    const SectorSink onDifference = [&](const SectorComparison& s) {
      if (report.quiet()) {
        stoppedAtDifference = true;
        return false;
      }
      return report.difference(k, s);
    };
    const SharedTrackSink onSharedTrack = [&](const SharedTrack& s) {
      if (report.quiet()) {
        stoppedAtDifference = true;
        return false;
      }
      return report.sharedTrack(k, s);
    };
    if (!compareDisk(a, b, k, onDifference, onSharedTrack, &disk, &failure)) {
      if (stoppedAtDifference) return kCompareDiffer;
      if (failure.side == 0) return kCompareTrouble;  // the sink refused
      *error = "cannot read " + safeUtf8(failure.side == 'A' ? pathA : pathB) + ": " +
               failure.status.reason();
      return kCompareTrouble;
    }
    if (!report.endDisk(disk)) return kCompareTrouble;
    if (!disk.same()) {
      differ = true;
      if (report.quiet()) return kCompareDiffer;
    }
  }
  return differ ? kCompareDiffer : kCompareSame;
}

}  // namespace

int compareImages(const char* pathA, const char* pathB, bool json, const ListingSink* sink,
                  std::string* error) {
  error->clear();
  Report report(json, sink);
  report.begin(pathA, pathB);
  int status = kCompareTrouble;
  try {
    // Both images take their memory from one budget.
    const OpenOptions options = runOpenOptions();
    Image a;
    Image b;
    if (open(a, pathA, options, error) && open(b, pathB, options, error)) {
      status = compareOpened(a, b, pathA, pathB, report, error);
    }
  } catch (const std::bad_alloc&) {
    *error = "out of memory";
    status = kCompareTrouble;
  }
  if (report.failed()) return kCompareTrouble;
  if (!report.end(status, *error)) return kCompareTrouble;
  return status;
}

}  // namespace d88
