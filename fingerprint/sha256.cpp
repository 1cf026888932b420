#include "sha256.h"

#include <cstdio>

#if defined(_WIN32)
#include <windows.h>
#include <bcrypt.h>
#else
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

struct Sha256::State {
  EVP_MD_CTX* context = nullptr;
};

namespace {

Status evpFailure(const char* call) {
  return Status::corruption(std::string("SHA-256: ") + call + " failed");
}

}  // namespace

Sha256::Sha256() {
  state_.reset(new State);
  state_->context = EVP_MD_CTX_new();
  if (state_->context == nullptr) {
    status_ = Status::outOfMemory("SHA-256: EVP_MD_CTX_new failed");
  } else if (EVP_DigestInit_ex(state_->context, EVP_sha256(), nullptr) != 1) {
    status_ = evpFailure("EVP_DigestInit_ex");
  }
}

Sha256::~Sha256() {
  EVP_MD_CTX_free(state_->context);
}

bool Sha256::update(const void* data, std::size_t size) {
  if (!usable()) return false;
  if (EVP_DigestUpdate(state_->context, data, size) != 1) {
    status_ = evpFailure("EVP_DigestUpdate");
    return false;
  }
  return true;
}

bool Sha256::finish(Sha256Digest* digest) {
  if (!usable()) return false;
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(state_->context, digest->data(), &length) != 1 ||
      length != digest->size()) {
    status_ = evpFailure("EVP_DigestFinal_ex");
    return false;
  }
  finished_ = true;
  return true;
}

#endif

}  // namespace d88
