#include "fuzz_support.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp != nullptr ? tmp : "/tmp") + "/d88fuzz-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr || chdir(pattern.c_str()) != 0) std::abort();
  return 0;
}

namespace d88fuzz {

d88::D88Image& openInput(const std::uint8_t* data, std::size_t size) {
  std::FILE* f = std::fopen(kInputName, "wb");
  if (f == nullptr) std::abort();
  const bool whole = size == 0 || std::fwrite(data, 1, size, f) == size;
  if (std::fclose(f) != 0 || !whole) std::abort();
  static d88::D88Image image;
  FUZZ_CHECK(image.open(kInputName) ||
             image.status().code() == d88::Status::Code::kNotD88Image);
  return image;
}

}  // namespace d88fuzz
