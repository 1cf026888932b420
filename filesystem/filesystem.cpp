#include <d88/filesystem.h>

#include <algorithm>
#include <cstring>

#include "cluster_engine.h"

namespace d88 {

struct FileSystem::Impl {
  Image* image = nullptr;
  Volume volume;
  std::vector<FileEntry> files;
};

const char* fileSystemName(FileSystemKind kind) {
  switch (kind) {
    case FileSystemKind::kFat12: return "fat12";
    case FileSystemKind::kN88: return "n88";
    case FileSystemKind::kFBasic: return "fbasic";
    case FileSystemKind::kHuBasic: return "hubasic";
  }
  return "?";
}

bool parseFileSystemName(const std::string& name, FileSystemKind* kind) {
  for (FileSystemKind k : kFileSystemKinds) {
    if (name == fileSystemName(k)) {
      *kind = k;
      return true;
    }
  }
  return false;
}

FileSystem::FileSystem() : impl_(new Impl) {}
FileSystem::~FileSystem() = default;
FileSystem::FileSystem(FileSystem&&) noexcept = default;
FileSystem& FileSystem::operator=(FileSystem&&) noexcept = default;

const Volume& FileSystem::volume() const { return impl_->volume; }
const std::vector<FileEntry>& FileSystem::files() const { return impl_->files; }

Status FileSystem::open(Image& image, const FileSystemKind* only, bool withDeleted,
                        FileSystem* fileSystem, std::vector<std::string>* refusals) {
  refusals->clear();
  if (image.selectedDisk() < 0) return Status::notFound("no disk is selected");
  fs::DiskReader reader(image);
  for (FileSystemKind kind : kFileSystemKinds) {
    if (only != nullptr && *only != kind) continue;
    fs::Found found;
    std::string refusal;
    const bool ok = kind == FileSystemKind::kFat12
                        ? fs::findFat12(reader, withDeleted, &found, &refusal)
                        : fs::findDiskBasic(reader, kind, withDeleted, &found, &refusal);
    // A read that failed hid what the disk holds: nothing is decided.
    if (!image.readFailure().ok()) return image.readFailure();
    if (ok) {
      fileSystem->impl_->image = &image;
      fileSystem->impl_->volume = std::move(found.volume);
      fileSystem->impl_->files = std::move(found.files);
      return Status();
    }
    refusals->push_back(std::string(fileSystemName(kind)) + ": " + refusal);
  }
  return Status::notFound("no file system found");
}

Status FileSystem::readFile(const FileEntry& entry, std::vector<std::uint8_t>* bytes) {
  if (impl_->image == nullptr) return Status::notOpen();
  // A broken chain gives only what it holds: no zeros stand for what it
  // does not, so that what is written stays within the disk's size. So
  // does a size that claims more than the data area holds.
  std::uint64_t size = entry.size;
  std::uint64_t chainBytes = 0;
  for (const FileSector& s : entry.sectors) chainBytes += static_cast<std::uint64_t>(sectorBytes(s.address.n));
  if (entry.health == FileHealth::kBrokenChain || size > impl_->volume.totalBytes) {
    size = std::min(size, chainBytes);
  }
  bytes->assign(static_cast<std::size_t>(size), 0);
  std::vector<std::uint8_t> sector;
  std::uint64_t at = 0;
  for (const FileSector& s : entry.sectors) {
    if (at >= size) break;
    const std::int32_t length = sectorBytes(s.address.n);
    sector.resize(static_cast<std::size_t>(length));
    // The sector's state was weighed when the directory was read: a missing
    // one is zeros without another search.
    if (s.state == SectorState::kMissing) {
      std::fill(sector.begin(), sector.end(), std::uint8_t{0});
    } else {
      std::int32_t got = 0;
      (void)impl_->image->readSector(s.address, sector.data(), length, &got);
      if (got < length) std::fill(sector.begin() + std::max<std::int32_t>(got, 0), sector.end(), std::uint8_t{0});
    }
    const std::uint64_t take = std::min<std::uint64_t>(static_cast<std::uint64_t>(length), size - at);
    std::memcpy(bytes->data() + at, sector.data(), static_cast<std::size_t>(take));
    at += take;
  }
  return impl_->image->readFailure();
}

}  // namespace d88
