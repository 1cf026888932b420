#include "listing_command.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <new>
#include <utility>
#include <vector>

#include "console.h"
#include "content_fingerprint.h"
#include "disk_picture.h"
#include "disk_survey.h"
#include "listing_json.h"
#include "listing_text.h"
#include "open_image.h"
#include "picture_svg.h"

namespace d88 {
namespace {

// A failure of the image as a whole: the message, and for JSON the
// image's error document in place of its listing.
ImageListing failed(const char* path, bool json, const std::string& message,
                    const std::string& reason) {
  ImageListing listing;
  listing.error = message;
  listing.reason = reason;
  if (json) listing.out = errorJson(path, reason);
  return listing;
}

// Opens the image; the failure, when it cannot be opened or read at all, is
// no D88 image, or holds no disk. A listing of one disk says of a file with
// none that it has no such disk, as of any other disk it lacks.
bool open(Image& image, const char* path, std::unique_ptr<File> file, bool json,
          ImageListing* failure, bool oneDisk = false) {
  const OpenOutcome opened = openImage(path, &image, std::move(file));
  if (opened.ok() || (oneDisk && opened.problem == OpenProblem::kNoDisk)) return true;
  *failure = failed(path, json, opened.text,
                    opened.problem == OpenProblem::kNotD88 ? "not a D88 image: " + opened.reason
                                                           : opened.reason);
  return false;
}

// The read that failed while the image was listed, if any. One that stopped
// the search for disks counts too: the listing would otherwise look complete.
const Status& listingFailure(const Image& image) {
  return !image.readFailure().ok() ? image.readFailure() : image.directoryEnd();
}

ImageListing outOfMemory(const char* path, bool json) {
  return failed(path, json, "cannot list " + safeUtf8(path) + ": out of memory", "out of memory");
}

// After a listing: a read that failed on the way makes the whole image fail.
// The text listed so far stays; JSON gives the error document instead.
ImageListing finish(Image& image, const char* path, bool json, std::string out) {
  const Status& failure = listingFailure(image);
  if (failure.ok()) return ImageListing{std::move(out), "", ""};
  const std::string reason = failure.reason();
  ImageListing listing = failed(path, json, "cannot read " + safeUtf8(path) + ": " + reason, reason);
  if (!json) listing.out = std::move(out);
  return listing;
}

// The disk index as given (decimal digits); ULONG_MAX when it does not fit.
unsigned long diskNumber(const char* diskText) {
  errno = 0;
  const unsigned long disk = std::strtoul(diskText, nullptr, 10);
  return errno != 0 ? ULONG_MAX : disk;
}

bool diskInImage(const Image& image, unsigned long disk) {
  return disk < static_cast<unsigned long>(image.disks().size());
}

// The failure when disk `diskText` cannot be selected: a read that failed,
// or no such disk.
ImageListing noSuchDisk(Image& image, const char* path, const char* diskText, bool json) {
  if (!image.readFailure().ok()) return finish(image, path, json, "");
  const std::string reason = "no disk " + safeUtf8(diskText) + " (it holds " +
                             std::to_string(image.disks().size()) + ")";
  return failed(path, json, safeUtf8(path) + " has " + reason, reason);
}

// Sets the disk's content fingerprint; false, with the image's failure,
// when it could not be made.
bool addFingerprint(Image& image, const char* path, bool json, DiskSummary* disk,
                    ImageListing* failure) {
  Sha256Digest digest;
  const Status hashed = contentSha256(image, disk->index, &digest);
  if (hashed.ok()) {
    disk->contentSha256 = hexDigest(digest);
    return true;
  }
  if (!listingFailure(image).ok()) {
    *failure = finish(image, path, json, "");
  } else {
    const std::string reason = hashed.reason();
    *failure = failed(path, json, "cannot read " + safeUtf8(path) + ": " + reason, reason);
  }
  return false;
}

}  // namespace

ImageListing listImageDisks(Image& image, const char* path, bool json, bool fingerprint,
                            std::unique_ptr<File> file) {
  ImageListing failure;
  if (!open(image, path, std::move(file), json, &failure)) return failure;
  try {
    std::vector<DiskSummary> disks;
    CutCoverage coverage;
    bool haveDisk0 = false;
    for (int i = 0; i < static_cast<int>(image.disks().size()); ++i) {
      DiskSummary summary;
      if (!summarizeDisk(image, i, &summary)) continue;
      disks.push_back(summary);
      // Disk 0 is selected and its tracks walked just now: its coverage costs
      // no second walk.
      if (i == 0) {
        coverage = checkCutPlan(image);
        haveDisk0 = true;
      }
      if (fingerprint && !addFingerprint(image, path, json, &disks.back(), &failure)) {
        return failure;
      }
    }
    if (disks.empty()) return finish(image, path, json, "");
    const CutCoverage* plan = haveDisk0 ? &coverage : nullptr;
    std::string out = json ? disksJson(path, disks, plan, image.directoryTail())
                           : disksText(disks, plan, image.directoryTail());
    return finish(image, path, json, std::move(out));
  } catch (const std::bad_alloc&) {
    return outOfMemory(path, json);
  }
}

ImageListing listImageTracks(Image& image, const char* path, const char* diskText, bool json,
                             const ListingSink* sink, bool fingerprint,
                             std::unique_ptr<File> file) {
  ImageListing failure;
  if (!open(image, path, std::move(file), json, &failure, true)) return failure;
  try {
    const unsigned long disk = diskNumber(diskText);
    DiskSummary summary;
    std::vector<TrackListing> tracks;
    if (!diskInImage(image, disk) ||
        !summarizeDisk(image, static_cast<int>(disk), &summary, &tracks)) {
      return noSuchDisk(image, path, diskText, json);
    }
    if (fingerprint && !addFingerprint(image, path, json, &summary, &failure)) return failure;
    if (json && sink != nullptr && listingFailure(image).ok()) {
      writeTracksJson(path, summary, tracks, *sink);
      return ImageListing();
    }
    std::string out =
        json ? tracksJson(path, summary, tracks) : tracksText(summary, tracks);
    return finish(image, path, json, std::move(out));
  } catch (const std::bad_alloc&) {
    return outOfMemory(path, json);
  }
}

ImageListing pictureImageDisk(Image& image, const char* path, const char* diskText,
                              std::unique_ptr<File> file) {
  ImageListing failure;
  if (!open(image, path, std::move(file), false, &failure, true)) return failure;
  try {
    const unsigned long disk = diskNumber(diskText);
    DiskPicture picture;
    if (!diskInImage(image, disk) ||
        !gatherDiskPicture(image, static_cast<int>(disk), path, &picture)) {
      return noSuchDisk(image, path, diskText, false);
    }
    // A picture that missed data to a failed read would look like damage:
    // no picture then, only the failure.
    ImageListing listing = finish(image, path, false, "");
    if (listing.error.empty()) listing.out = diskPictureSvg(picture);
    return listing;
  } catch (const std::bad_alloc&) {
    return outOfMemory(path, false);
  }
}

}  // namespace d88
