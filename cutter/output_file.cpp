#include "cutter/output_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include <sys/stat.h>

namespace d88 {
namespace {

constexpr std::size_t kMaxNameLength = 4096;

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// errno after a failed call, never 0: some C libraries leave it unset.
int lastError() { return errno != 0 ? errno : EIO; }

}  // namespace

int writeFileWhole(const char* name, const std::uint8_t* data, std::size_t size) {
  char temporary[kMaxNameLength];
  const int needed = std::snprintf(temporary, sizeof temporary, "%s%s", name, kTemporarySuffix);
  if (needed < 0 || static_cast<std::size_t>(needed) >= sizeof temporary) return ENAMETOOLONG;

  // A leftover from an interrupted run is removed rather than written through:
  // "x" refuses to follow a link or reuse a file that is already there.
  std::remove(temporary);
  errno = 0;
  File out(std::fopen(temporary, "wbx"));
  if (!out) return lastError();

  int error = 0;
  errno = 0;
  if (size != 0 && std::fwrite(data, 1, size, out.get()) != size) error = lastError();
  errno = 0;
  if (error == 0 && std::fflush(out.get()) != 0) error = lastError();
  errno = 0;
  if (std::fclose(out.release()) != 0 && error == 0) error = lastError();
  errno = 0;
  if (error == 0 && std::rename(temporary, name) != 0) error = lastError();
  if (error != 0) std::remove(temporary);
  return error;
}

bool isSameFile(const char* a, const char* b) {
  struct stat sa {};
  struct stat sb {};
  if (stat(a, &sa) != 0 || stat(b, &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

}  // namespace d88
