#include "sha256.h"

#include <cstdio>

#if defined(_WIN32)
#include <windows.h>
#include <bcrypt.h>
#else
#include <dlfcn.h>

#include <cstring>
#include <string>

#include <openssl/evp.h>
#endif

namespace d88 {

bool Sha256::usable() {
  if (finished_ && status_.ok()) status_ = Status::corruption("SHA-256: the hash is finished");
  return status_.ok();
}

#if defined(_WIN32)

struct Sha256::State {
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  BCRYPT_HASH_HANDLE hash = nullptr;
};

namespace {

// A CNG call that failed, with its NTSTATUS in hex.
Status cngFailure(const char* call, NTSTATUS code) {
  char text[96];
  std::snprintf(text, sizeof text, "SHA-256: %s failed (NTSTATUS 0x%08lX)", call,
                static_cast<unsigned long>(code));
  return Status::corruption(text);
}

}  // namespace

Sha256::Sha256() {
  state_.reset(new State);
  NTSTATUS code =
      BCryptOpenAlgorithmProvider(&state_->algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0);
  if (!BCRYPT_SUCCESS(code)) {
    state_->algorithm = nullptr;
    status_ = cngFailure("BCryptOpenAlgorithmProvider", code);
    return;
  }
  code = BCryptCreateHash(state_->algorithm, &state_->hash, nullptr, 0, nullptr, 0, 0);
  if (!BCRYPT_SUCCESS(code)) {
    state_->hash = nullptr;
    status_ = cngFailure("BCryptCreateHash", code);
  }
}

Sha256::~Sha256() {
  if (state_->hash != nullptr) BCryptDestroyHash(state_->hash);
  if (state_->algorithm != nullptr) BCryptCloseAlgorithmProvider(state_->algorithm, 0);
}

bool Sha256::update(const void* data, std::size_t size) {
  if (!usable()) return false;
  // CNG takes at most 4 GiB a call.
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  while (size > 0) {
    const ULONG piece = size > 0x40000000u ? 0x40000000u : static_cast<ULONG>(size);
    const NTSTATUS code = BCryptHashData(state_->hash, const_cast<PUCHAR>(bytes), piece, 0);
    if (!BCRYPT_SUCCESS(code)) {
      status_ = cngFailure("BCryptHashData", code);
      return false;
    }
    bytes += piece;
    size -= piece;
  }
  return true;
}

bool Sha256::restart() {
  // A failure of the system's hashing stays; after finish(), the only
  // failure there can be is a call that came too late, which a restart ends.
  if (!status_.ok() && !finished_) return false;
  status_ = Status();
  finished_ = false;
  if (state_->hash != nullptr) {
    BCryptDestroyHash(state_->hash);
    state_->hash = nullptr;
  }
  const NTSTATUS code =
      BCryptCreateHash(state_->algorithm, &state_->hash, nullptr, 0, nullptr, 0, 0);
  if (!BCRYPT_SUCCESS(code)) {
    state_->hash = nullptr;
    status_ = cngFailure("BCryptCreateHash", code);
    return false;
  }
  return true;
}

bool Sha256::finish(Sha256Digest* digest) {
  if (!usable()) return false;
  const NTSTATUS code = BCryptFinishHash(state_->hash, digest->data(),
                                         static_cast<ULONG>(digest->size()), 0);
  if (!BCRYPT_SUCCESS(code)) {
    status_ = cngFailure("BCryptFinishHash", code);
    return false;
  }
  finished_ = true;
  return true;
}

#else

namespace {

// The functions of OpenSSL's libcrypto that the hash uses, loaded when the
// first hash starts: a program that never hashes (d88ls without
// --fingerprint) never loads the library, so its start costs what it did
// before. Their types come from the headers the build compiled against.
struct Crypto {
  decltype(&EVP_MD_CTX_new) contextNew = nullptr;
  decltype(&EVP_MD_CTX_free) contextFree = nullptr;
  decltype(&EVP_sha256) sha256 = nullptr;
  decltype(&EVP_DigestInit_ex) digestInit = nullptr;
  decltype(&EVP_DigestUpdate) digestUpdate = nullptr;
  decltype(&EVP_DigestFinal_ex) digestFinal = nullptr;
  std::string error;  // why the library could not be used; empty when it can
};

// Looks up `name` in the library; false when it is not there.
template <typename Function>
bool resolve(void* library, const char* name, Function* function) {
  void* symbol = dlsym(library, name);
  if (symbol == nullptr) return false;
  static_assert(sizeof symbol == sizeof *function, "function and object pointers differ in size");
  std::memcpy(function, &symbol, sizeof symbol);
  return true;
}

// The library, loaded once and kept for the life of the process.
const Crypto& crypto() {
  static const Crypto loaded = [] {
    Crypto c;
    void* library = dlopen(D88_LIBCRYPTO_SONAME, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
      const char* why = dlerror();
      c.error = std::string("SHA-256: cannot load " D88_LIBCRYPTO_SONAME ": ") +
                (why != nullptr ? why : "unknown reason");
      return c;
    }
    if (!(resolve(library, "EVP_MD_CTX_new", &c.contextNew) &&
          resolve(library, "EVP_MD_CTX_free", &c.contextFree) &&
          resolve(library, "EVP_sha256", &c.sha256) &&
          resolve(library, "EVP_DigestInit_ex", &c.digestInit) &&
          resolve(library, "EVP_DigestUpdate", &c.digestUpdate) &&
          resolve(library, "EVP_DigestFinal_ex", &c.digestFinal))) {
      c.error = "SHA-256: " D88_LIBCRYPTO_SONAME " lacks a function of the EVP interface";
    }
    return c;
  }();
  return loaded;
}

Status evpFailure(const char* call) {
  return Status::corruption(std::string("SHA-256: ") + call + " failed");
}

}  // namespace

struct Sha256::State {
  const Crypto* crypto = nullptr;
  EVP_MD_CTX* context = nullptr;
};

Sha256::Sha256() {
  state_.reset(new State);
  const Crypto& c = crypto();
  if (!c.error.empty()) {
    status_ = Status::corruption(c.error);
    return;
  }
  state_->crypto = &c;
  state_->context = c.contextNew();
  if (state_->context == nullptr) {
    status_ = Status::outOfMemory("SHA-256: EVP_MD_CTX_new failed");
  } else if (c.digestInit(state_->context, c.sha256(), nullptr) != 1) {
    status_ = evpFailure("EVP_DigestInit_ex");
  }
}

Sha256::~Sha256() {
  if (state_->context != nullptr) state_->crypto->contextFree(state_->context);
}

bool Sha256::update(const void* data, std::size_t size) {
  if (!usable()) return false;
  if (state_->crypto->digestUpdate(state_->context, data, size) != 1) {
    status_ = evpFailure("EVP_DigestUpdate");
    return false;
  }
  return true;
}

bool Sha256::restart() {
  // A failure of the system's hashing stays; after finish(), the only
  // failure there can be is a call that came too late, which a restart ends.
  if (!status_.ok() && !finished_) return false;
  status_ = Status();
  finished_ = false;
  if (state_->crypto->digestInit(state_->context, nullptr, nullptr) != 1) {
    status_ = evpFailure("EVP_DigestInit_ex");
    return false;
  }
  return true;
}

bool Sha256::finish(Sha256Digest* digest) {
  if (!usable()) return false;
  unsigned int length = 0;
  if (state_->crypto->digestFinal(state_->context, digest->data(), &length) != 1 ||
      length != digest->size()) {
    status_ = evpFailure("EVP_DigestFinal_ex");
    return false;
  }
  finished_ = true;
  return true;
}

#endif

}  // namespace d88
