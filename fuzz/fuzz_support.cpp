#include "fuzz/fuzz_support.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace d88fuzz {

void enterScratchFolder() {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp != nullptr ? tmp : "/tmp") + "/d88fuzz-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr || chdir(pattern.c_str()) != 0) std::abort();
}

const char* writeInput(const std::uint8_t* data, std::size_t size) {
  static const char kName[] = "input.d88";
  std::FILE* f = std::fopen(kName, "wb");
  if (f == nullptr) std::abort();
  const bool whole = size == 0 || std::fwrite(data, 1, size, f) == size;
  if (std::fclose(f) != 0 || !whole) std::abort();
  return kName;
}

}  // namespace d88fuzz
