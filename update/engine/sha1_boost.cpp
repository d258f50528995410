// SHA-1 on Boost's uuid hasher: the fallback of file digests when the
// platform's CNG provider cannot be opened.
#include <boost/uuid/detail/sha1.hpp>

#include <cstdint>
#include <memory>
#include <type_traits>

#include "engine/sha1_hasher.h"

namespace {

using BoostDigest = boost::uuids::detail::sha1::digest_type;

// The storage layout is built from five 32-bit state words. Later Boost
// versions hand out 20 bytes instead, which would silently reorder every
// digest, so a change of the type must stop the build.
static_assert(std::extent_v<BoostDigest> == 5 && sizeof(std::remove_extent_t<BoostDigest>) == 4 &&
                  std::is_unsigned_v<std::remove_extent_t<BoostDigest>>,
              "Boost's SHA-1 digest must be five 32-bit state words");

class BoostSha1Hasher : public Sha1Hasher {
public:
    bool Begin() override {
        m_hasher.reset();
        return true;
    }

    bool Add(const unsigned char* data, size_t size) override {
        m_hasher.process_bytes(data, size);
        return true;
    }

    bool Finish(unsigned char* digest) override {
        BoostDigest words;
        m_hasher.get_digest(words);
        for (int w = 0; w < 5; ++w) {
            const uint32_t word = words[w];
            for (int b = 0; b < 4; ++b) digest[w * 4 + b] = static_cast<unsigned char>(word >> (8 * b));
        }
        m_hasher.reset();
        return true;
    }

private:
    boost::uuids::detail::sha1 m_hasher;
};

}  // namespace

std::unique_ptr<Sha1Hasher> MakeBoostSha1Hasher() { return std::make_unique<BoostSha1Hasher>(); }
