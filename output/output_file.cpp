#include "output_file.h"

#include <cerrno>
#include <cstring>
#include <string>

#include "file_system.h"
#include "temporary_files.h"

namespace d88 {
namespace {

constexpr std::size_t kMaxNameLength = 4096;
// Random characters at the end of a temporary name, and tries at a free name.
constexpr std::size_t kRandomLength = 6;
constexpr int kNameAttempts = 100;

// Creates and lists a temporary file beside `name` whose name no one else
// holds; `temporary` receives its name, *entry its place in the list.
int createTemporary(const char* name, std::string* temporary, NewFile* file,
                    TemporaryEntry** entry) {
  const std::size_t length = std::strlen(name);
  const std::size_t markerLength = sizeof kTemporaryMarker - 1;
  if (length + markerLength + kRandomLength >= kMaxNameLength) return ENAMETOOLONG;
  *temporary = std::string(name) + kTemporaryMarker + std::string(kRandomLength, '0');
  char* random = &(*temporary)[length + markerLength];
  int error = EEXIST;
  for (int attempt = 0; attempt < kNameAttempts && error == EEXIST; ++attempt) {
    fillRandomName(random, kRandomLength);
    error = createListedTemporary(temporary->c_str(), file, entry);
  }
  return error;
}

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
  if (isReadOnlyFile(name)) return WriteResult{EACCES, false};
  auto impl = std::make_unique<Impl>();
  impl->name = name;
  const int error = createTemporary(name, &impl->temporary, &impl->out, &impl->entry);
  if (error != 0) return WriteResult{error, isFolderError(error, true)};
  impl_ = std::move(impl);
  return WriteResult{};
}

WriteResult PendingFile::append(const std::uint8_t* data, std::size_t size) {
  if (!impl_) return WriteResult{EBADF, false};
  const int error = impl_->out.write(data, size);
  if (error == 0) return WriteResult{};
  discard();
  return WriteResult{error, isFolderError(error, false)};
}

std::uint64_t PendingFile::appendCopyOf(int sourceFd, std::int64_t offset, std::uint64_t size) {
  if (!impl_ || sourceFd < 0 || offset < 0) return 0;
  return impl_->out.copyFrom(sourceFd, offset, size);
}

WriteResult PendingFile::commit() {
  if (!impl_) return WriteResult{EBADF, false};
  int error = impl_->out.close();
  if (error != 0) {
    discard();
    return WriteResult{error, isFolderError(error, false)};
  }
  error = renameListedTemporary(impl_->entry, impl_->temporary.c_str(), impl_->name.c_str());
  if (error != 0) {
    discard();
    return WriteResult{error, false};
  }
  impl_.reset();
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

std::string pathInFolder(const char* folder, const std::string& name) {
  if (folder == nullptr || folder[0] == '\0') return name;
  std::string path = folder;
  const char last = path.back();
  if (last != '/' && last != '\\') path += '/';
  return path + name;
}

}  // namespace d88
