// SHA-256 through Windows CNG, with the built-in algorithm pseudo-handle so
// that no provider has to be opened.
#include <windows.h>
#include <bcrypt.h>

#include <algorithm>

#include "runtime/thread.h"
#include "image/hashing.h"

namespace sw {

namespace {

// BCRYPT_SHA256_ALG_HANDLE; mingw's headers lack the named constant.
const BCRYPT_ALG_HANDLE kSha256AlgHandle = reinterpret_cast<BCRYPT_ALG_HANDLE>(0x41);

class CngSha256 final : public Sha256Engine {
  public:
    explicit CngSha256(BCRYPT_HASH_HANDLE h) : hash_(h) {}
    ~CngSha256() override {
        if (hash_ != nullptr) BCryptDestroyHash(hash_);
    }
    CngSha256(const CngSha256&) = delete;
    CngSha256& operator=(const CngSha256&) = delete;

    void update(std::span<const uint8_t> bytes) override {
        while (!bytes.empty()) {
            ULONG piece = static_cast<ULONG>(std::min<size_t>(bytes.size(), 0xFFFFFFFFu));
            // Only a programming error (a bad handle or argument) can fail here;
            // a silently wrong digest would be worse than stopping.
            if (BCryptHashData(hash_, const_cast<PUCHAR>(bytes.data()), piece, 0) < 0) {
                fatal("BCryptHashData failed");
            }
            bytes = bytes.subspan(piece);
        }
    }

    Sha256Digest finish() override {
        Sha256Digest d{};
        if (BCryptFinishHash(hash_, d.data(), static_cast<ULONG>(d.size()), 0) < 0) {
            fatal("BCryptFinishHash failed");
        }
        BCryptDestroyHash(hash_);
        hash_ = nullptr;
        return d;
    }

  private:
    BCRYPT_HASH_HANDLE hash_;
};

}  // namespace

std::unique_ptr<Sha256Engine> make_system_sha256() {
    BCRYPT_HASH_HANDLE h = nullptr;
    NTSTATUS status = BCryptCreateHash(kSha256AlgHandle, &h, nullptr, 0, nullptr, 0, 0);
    if (status < 0) {
        if (h != nullptr) BCryptDestroyHash(h);
        return nullptr;
    }
    return std::make_unique<CngSha256>(h);
}

}  // namespace sw
