#include "output_file.h"

#include <cerrno>
#include <cstring>
#include <string>
#include <tuple>
#include <utility>
#include <vector>
#include <algorithm>

#include "file_system.h"
#include "temporary_files.h"

namespace d88 {
namespace {

// Failures to create a file in a folder, or to write into its filesystem,
// that no other file there escapes.
bool isFolderError(int error, bool creating) {
  switch (error) {
    case ENOSPC:
#ifdef EDQUOT
    case EDQUOT:
#endif
    case EROFS:
      return true;
    case EACCES:
    case EPERM:
    case ENOENT:
    case ENOTDIR:
      return creating;
    default:
      return false;
  }
}

// A failure with `error`, the folder's when `folder`.
WriteResult failedWith(int error, bool folder) {
  WriteResult result;
  result.error = error;
  result.folderFailed = folder;
  return result;
}

}  // namespace

struct PendingFile::Impl {
  std::string name;
  std::string temporary;
  TemporaryEntry* entry = nullptr;
  NewFile out;
};

PendingFile::PendingFile() = default;

PendingFile::~PendingFile() { discard(); }

WriteResult PendingFile::start(const char* name) {
  discard();
  if (isReadOnlyFile(name)) return failedWith(EACCES, false);
  auto impl = std::make_unique<Impl>();
  impl->name = name;
  const int error = createListedTemporary(name, &impl->temporary, &impl->out, &impl->entry);
  if (error != 0) return failedWith(error, isFolderError(error, true));
  impl_ = std::move(impl);
  // A file written in place of another keeps the other's permissions, as
  // it would had it been written over; where the file system will not set
  // them, it is written all the same.
  unsigned mode = 0;
  if (regularFileMode(name, &mode)) (void)impl_->out.setMode(mode);
  return WriteResult{};
}

WriteResult PendingFile::append(const std::uint8_t* data, std::size_t size) {
  if (!impl_) return failedWith(EBADF, false);
  const int error = impl_->out.write(data, size);
  if (error == 0) return WriteResult{};
  discard();
  return failedWith(error, isFolderError(error, false));
}

std::uint64_t PendingFile::appendCopyOf(int sourceFd, std::int64_t offset, std::uint64_t size) {
  if (!impl_ || sourceFd < 0 || offset < 0) return 0;
  return impl_->out.copyFrom(sourceFd, offset, size);
}

int PendingFile::setModificationTime(std::int64_t seconds) {
  if (!impl_) return EBADF;
  return impl_->out.setModificationTime(seconds);
}

WriteResult PendingFile::commit() {
  PendingFile* self = this;
  std::size_t failed = 0;
  return commitTogether(&self, 1, &failed);
}

WriteResult PendingFile::commitTogether(PendingFile* const* files, std::size_t count,
                                        std::size_t* failed) {
  const auto fail = [&](std::size_t index, const WriteResult& result) {
    *failed = index;
    for (std::size_t i = 0; i < count; ++i) files[i]->discard();
    return result;
  };
  for (std::size_t i = 0; i < count; ++i) {
    if (!files[i]->impl_) return fail(i, failedWith(EBADF, false));
    const int error = files[i]->impl_->out.close();
    if (error != 0) return fail(i, failedWith(error, isFolderError(error, false)));
  }
  // Runs that commit several files into one folder take turns, folder by
  // folder in one order, so that no two wait on each other.
  std::vector<std::unique_ptr<FolderLock>> locks;
  if (count > 1) {
    std::vector<std::pair<FileIdentity, std::string>> folders;
    for (std::size_t i = 0; i < count; ++i) {
      const std::string folder = folderOfPath(files[i]->impl_->name);
      FileKind kind = FileKind::kNothing;
      FileIdentity identity;
      if (lookUpFile(folder.c_str(), &kind, &identity) == 0 && identity.known) {
        folders.emplace_back(identity, folder);
      }
    }
    const auto before = [](const std::pair<FileIdentity, std::string>& a,
                           const std::pair<FileIdentity, std::string>& b) {
      return std::tie(a.first.device, a.first.file) < std::tie(b.first.device, b.first.file);
    };
    std::sort(folders.begin(), folders.end(), before);
    for (std::size_t i = 0; i < folders.size(); ++i) {
      if (i > 0 && folders[i].first == folders[i - 1].first) continue;
      locks.push_back(std::make_unique<FolderLock>());
      locks.back()->lock(folders[i].second.c_str());
    }
  }
  std::vector<ListedRename> renames;
  for (std::size_t i = 0; i < count; ++i) {
    const Impl& impl = *files[i]->impl_;
    renames.push_back({impl.entry, impl.temporary.c_str(), impl.name.c_str()});
  }
  std::size_t index = 0;
  std::size_t renamed = 0;
  WriteResult result;
  result.error = renameListedTogether(renames.data(), count, &index, &renamed, &result.standing,
                                      &result.keptFor, &result.keptAs);
  // A temporary that was renamed is gone, or is a final name again: it is
  // not the file's to remove.
  for (std::size_t i = 0; i < renamed; ++i) files[i]->impl_.reset();
  if (result.error != 0) return fail(index, result);
  return WriteResult{};
}

void PendingFile::discard() {
  if (!impl_) return;
  impl_->out.close();
  removeListedTemporary(impl_->entry, impl_->temporary.c_str());
  impl_.reset();
}

WriteResult writeFileWhole(const char* name, const std::uint8_t* data, std::size_t size) {
  PendingFile file;
  WriteResult result = file.start(name);
  if (result.error == 0) result = file.append(data, size);
  if (result.error == 0) result = file.commit();
  return result;
}

std::string fileKindText(FileKind kind) {
  switch (kind) {
    case FileKind::kNothing:
      return "nothing";
    case FileKind::kRegular:
      return "a regular file";
    case FileKind::kFolder:
      return "a folder";
    case FileKind::kDevice:
      return "a device";
    case FileKind::kFifo:
      return "a FIFO (named pipe)";
    case FileKind::kSocket:
      return "a socket";
    case FileKind::kOther:
      break;
  }
  return "no regular file";
}

std::string writeFailureText(const WriteResult& result) {
  std::string text = result.standing != FileKind::kNothing
                         ? "it is " + fileKindText(result.standing)
                         : std::string(std::strerror(result.error));
  if (!result.keptAs.empty()) {
    text += "; the earlier " + result.keptFor + " could not be put back and is now " +
            result.keptAs;
  }
  return text;
}

std::string pathInFolder(const char* folder, const std::string& name) {
  if (folder == nullptr || folder[0] == '\0') return name;
  std::string path = folder;
  const char last = path.back();
  if (last != '/' && last != '\\') path += '/';
  return path + name;
}

}  // namespace d88
