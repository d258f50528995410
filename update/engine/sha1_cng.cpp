// SHA-1 on the platform's CNG provider (bcrypt), and the choice of the hasher
// that file digests use. The provider is opened once per process; each
// hasher owns one hash object that it reuses for every digest when the
// system supports reusable hash objects (Windows 8 and later), and creates
// afresh in its own memory for every digest otherwise.
#include <windows.h>
#include <bcrypt.h>

#include <memory>
#include <utility>
#include <vector>

#include "engine/sha1_hasher.h"
#include "velisk/bcrypt_handles.h"

namespace {

constexpr ULONG kSha1Bytes = 20;
// BCryptHashData takes a 32-bit count; larger inputs go in pieces of this size.
constexpr size_t kLargestHashDataBytes = size_t{1} << 30;

using UniqueAlgorithm = velisk::UniqueBCryptAlgorithm;
using UniqueHash = velisk::UniqueBCryptHash;

bool g_cngUnavailableForTesting = false;
bool g_cngGivenUp = false;
std::unique_ptr<Sha1Hasher> g_fileDigestHasher;

// The SHA-1 provider of this process, opened at the first call (null when
// it cannot be opened). It stays open until the process ends.
BCRYPT_ALG_HANDLE Sha1Provider() {
    static const UniqueAlgorithm provider = [] {
        UniqueAlgorithm opened;
        if (!BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(opened.receive(), BCRYPT_SHA1_ALGORITHM, nullptr, 0))) {
            opened.release();  // nothing was opened
        }
        return opened;
    }();
    return provider.get();
}

// CNG's digest is the usual SHA-1 byte string, each state word most
// significant byte first; storage order reverses every group of four.
void StoreInStorageOrder(const UCHAR* usual, unsigned char* digest) {
    for (ULONG word = 0; word < kSha1Bytes; word += 4) {
        for (ULONG b = 0; b < 4; ++b) digest[word + b] = usual[word + 3 - b];
    }
}

class CngSha1Hasher : public Sha1Hasher {
public:
    // Sizes the hash object for `provider`; false when CNG refuses.
    bool Init(BCRYPT_ALG_HANDLE provider) {
        m_provider = provider;
        DWORD objectBytes = 0;
        ULONG written = 0;
        m_status = ::BCryptGetProperty(provider, BCRYPT_OBJECT_LENGTH, reinterpret_cast<PUCHAR>(&objectBytes),
                                       sizeof(objectBytes), &written, 0);
        if (!BCRYPT_SUCCESS(m_status) || objectBytes == 0) return false;
        m_object.resize(objectBytes);
        m_reusable = BCRYPT_SUCCESS(::BCryptCreateHash(provider, m_hash.receive(), m_object.data(), objectBytes,
                                                       nullptr, 0, BCRYPT_HASH_REUSABLE_FLAG));
        if (!m_reusable) m_hash.release();
        return true;
    }

    bool Begin() override {
        if (m_reusable) {
            // A reusable object starts over only after a finish.
            if (m_open) {
                UCHAR discarded[kSha1Bytes];
                if (!Check(::BCryptFinishHash(m_hash.get(), discarded, kSha1Bytes, 0))) return false;
            }
        } else {
            m_hash.reset();
            if (!Check(::BCryptCreateHash(m_provider, m_hash.receive(), m_object.data(),
                                          static_cast<ULONG>(m_object.size()), nullptr, 0, 0))) {
                m_hash.release();
                return false;
            }
        }
        m_open = true;
        return true;
    }

    bool Add(const unsigned char* data, size_t size) override {
        if (!m_open) return false;
        while (size > 0) {
            const size_t piece = size < kLargestHashDataBytes ? size : kLargestHashDataBytes;
            if (!Check(::BCryptHashData(m_hash.get(), const_cast<PUCHAR>(data), static_cast<ULONG>(piece), 0))) {
                return false;
            }
            data += piece;
            size -= piece;
        }
        return true;
    }

    bool Finish(unsigned char* digest) override {
        if (!m_open) return false;
        UCHAR usual[kSha1Bytes];
        const bool finished = Check(::BCryptFinishHash(m_hash.get(), usual, kSha1Bytes, 0));
        m_open = false;
        if (!m_reusable) m_hash.reset();
        if (finished) StoreInStorageOrder(usual, digest);
        return finished;
    }

    long LastStatus() const override { return m_status; }

private:
    // Records a CNG status; a failure also ends the digest under way.
    bool Check(NTSTATUS status) {
        m_status = status;
        if (BCRYPT_SUCCESS(status)) return true;
        m_open = false;
        if (!m_reusable) m_hash.reset();
        return false;
    }

    BCRYPT_ALG_HANDLE m_provider = nullptr;
    std::vector<UCHAR> m_object;  // the hash object's memory, owned here so no digest allocates
    UniqueHash m_hash;
    bool m_reusable = false;
    bool m_open = false;  // a digest is under way
    NTSTATUS m_status = 0;
};

}  // namespace

std::unique_ptr<Sha1Hasher> MakeCngSha1Hasher() {
    if (g_cngUnavailableForTesting) return nullptr;
    const BCRYPT_ALG_HANDLE provider = Sha1Provider();
    if (provider == nullptr) return nullptr;
    auto hasher = std::make_unique<CngSha1Hasher>();
    if (!hasher->Init(provider)) return nullptr;
    return hasher;
}

Sha1Hasher& FileDigestHasher() {
    if (!g_fileDigestHasher && !g_cngGivenUp) g_fileDigestHasher = MakeCngSha1Hasher();
    if (!g_fileDigestHasher) g_fileDigestHasher = MakeBoostSha1Hasher();
    return *g_fileDigestHasher;
}

void FallBackToBoostSha1() {
    g_cngGivenUp = true;
    g_fileDigestHasher = MakeBoostSha1Hasher();
}

void SetCngSha1UnavailableForTesting(bool unavailable) {
    g_cngUnavailableForTesting = unavailable;
    g_cngGivenUp = false;
    g_fileDigestHasher.reset();
}

void ReplaceFileDigestHasherForTesting(std::unique_ptr<Sha1Hasher> hasher) {
    g_cngGivenUp = false;
    g_fileDigestHasher = std::move(hasher);
}
