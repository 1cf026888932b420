// SHA-256 through the system's implementation: OpenSSL's libcrypto (EVP),
// loaded when the first hash starts, or Windows CNG (bcrypt). Nothing here
// hashes by itself.
#ifndef D88CUT_FINGERPRINT_SHA256_H_
#define D88CUT_FINGERPRINT_SHA256_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

#include <d88/status.h>

namespace d88 {

using Sha256Digest = std::array<std::uint8_t, 32>;

// One hash computed over bytes given in any number of pieces. A failure of
// the system's hashing is kept in status(); every call after it does nothing.
class Sha256 {
 public:
  // Starts a hash; status() says why when the system could not (libcrypto
  // not installed, say).
  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;

  // Adds `size` bytes at `data` to the hash; false (see status()) when it failed.
  bool update(const void* data, std::size_t size);
  // Ends the hash and writes the digest; false (see status()) when it failed.
  // Called once: update() and finish() after it fail.
  bool finish(Sha256Digest* digest);
  // Starts a new hash on this object, as a new Sha256 would but without
  // looking the algorithm up again, finished or not; false (see status())
  // when it failed, or when the hash had failed already.
  bool restart();
  // Ok until the system's hashing failed or a call came after finish().
  const Status& status() const { return status_; }

 private:
  // False, with status(), when the hash is finished or failed already.
  bool usable();

  struct State;
  std::unique_ptr<State> state_;
  Status status_;
  bool finished_ = false;
};

}  // namespace d88

#endif  // D88CUT_FINGERPRINT_SHA256_H_
