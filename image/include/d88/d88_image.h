// The original reader interface, D88Image, kept for programs written against
// it: open, select a disk, read sectors and runs of sectors by identity, list
// a track's sector identities. It is a thin layer over d88::Image (image.h),
// which new code should use instead: that interface says why each call
// fails, opens from memory or a caller's file object, and can be moved.
#ifndef D88_D88_IMAGE_H_
#define D88_D88_IMAGE_H_

#include <cstdint>
#include <string>

#include <d88/format.h>
#include <d88/image.h>
#include <d88/status.h>

namespace d88 {

// Thread safety: a D88Image is used by one thread at a time.
class D88Image {
 public:
  // No file open, no disk selected, sector range 1 to 16.
  D88Image() = default;
  // Closes the image file if one is open.
  ~D88Image() = default;
  D88Image(const D88Image&) = delete;
  D88Image& operator=(const D88Image&) = delete;

  // With a path (UTF-8; "-" is standard input): forgets the previous file,
  // then opens `path` and finds its disks. False only when the file cannot
  // be opened. No disk found is still true, with diskCount() 0: so is a
  // file that cannot be read before its first disk, or that is no D88 image
  // at all, with status() saying why (Code::kNotD88Image, say). With
  // nullptr: closes and returns true.
  bool open(const char* path);

  // Makes disk `index` (0 to diskCount() - 1) the selected disk. Any call
  // first forgets the previous selection; false when there is no file or no
  // such disk.
  bool selectDisk(std::int32_t index);

  // Sector numbers of the first and last sector of every track, used by
  // readSectors() to move from one track to the next. Not checked.
  void setSectorRange(std::int32_t first, std::int32_t last);

  // Disks found by the last successful open(), 0 to 64.
  std::int32_t diskCount() const;
  // Always -1: the selected disk is not kept as a number here.
  [[deprecated("always -1; Image::selectedDisk() gives the selected disk")]]
  std::int32_t currentDisk() const;
  // Media type byte of the selected disk (0 to 255), -1 when none is selected.
  std::int32_t mediaType() const;
  // Name of the selected disk, at most 16 characters, empty when none. The
  // pointer stays valid until the next open() or selectDisk() and while this
  // instance lives.
  const char* diskName() const;

  // Copies the data of the first record of `track` whose identity is exactly
  // (c, h, r, n) into buffer, at most maxBytes of it. Returns the bytes
  // copied: the sector's length capped at maxBytes, fewer when the disk or
  // the file ends inside the sector, 0 when the track or the sector is not there.
  std::int32_t readSector(std::int32_t track, std::int32_t c, std::int32_t h, std::int32_t r,
                          std::int32_t n, std::uint8_t* buffer, std::int32_t maxBytes);

  // Reads totalBytes of consecutive sectors of size code n, starting at
  // (c, h, r, n) on `track`, into buffer, under setSectorRange(). Returns the
  // bytes of the sectors read whole before the first that failed, totalBytes
  // when all came; 0 for a size code outside 0 to 23.
  std::int32_t readSectors(std::int32_t track, std::int32_t c, std::int32_t h, std::int32_t r,
                           std::int32_t n, std::uint8_t* buffer, std::int32_t totalBytes);

  // Writes the identity (C, H, R, N) of each record of `track`, in record
  // order, as 4-byte entries into buffer; only whole entries that fit in
  // capacityBytes. A record count of 0 does not end this listing; the count
  // of a later header, the disk's end or kMaxTrackRecords does. Returns the
  // bytes written, 0 when the track is not there.
  std::int32_t listSectorIds(std::int32_t track, std::uint8_t* buffer,
                             std::int32_t capacityBytes);

  // Why the last call that failed did so; ok when none has failed since
  // open(). A sector that is not there is a failure (Code::kNotFound). The
  // reference stays valid while this instance lives; its value changes with
  // the next call that fails or the next open().
  const Status& status() const { return status_; }

  // The image under this layer, for calls that only it has. Valid while
  // this instance lives; open() replaces what it holds.
  Image& image() { return image_; }

 private:
  // Keeps the reason of a call that failed, and passes its result on.
  bool failed(const Status& s) {
    status_ = s;
    return false;
  }

  Image image_;
  Status status_;
  SectorRange range_{1, 16};
  std::string name_;
};

}  // namespace d88

#endif  // D88_D88_IMAGE_H_
