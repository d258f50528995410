// Incremental SHA-1 hashers that give digests in the byte layout manifests
// store (see file_sha1.h): the platform's CNG provider, and Boost's hasher as
// the fallback when CNG cannot be opened.
#pragma once

#include <cstddef>
#include <memory>

// One SHA-1 computation at a time: Begin, Add any number of times, Finish.
// A hasher may be reused for the next computation after Finish, and Begin
// also discards a computation that was abandoned half way.
class Sha1Hasher {
public:
    virtual ~Sha1Hasher() = default;

    // Starts a new digest. False when the implementation failed (CNG only).
    virtual bool Begin() = 0;

    // Feeds `size` bytes. False when the implementation failed (CNG only);
    // the digest under way is then lost and Begin must come next.
    virtual bool Add(const unsigned char* data, size_t size) = 0;

    // Writes the 20-byte digest (h0..h4, each least significant byte first)
    // of everything added since Begin. False when the implementation failed.
    virtual bool Finish(unsigned char* digest) = 0;

    // The last status of the underlying library (0 when none failed), for logs.
    virtual long LastStatus() const { return 0; }
};

// A hasher on the platform's CNG SHA-1 provider (opened once per process and
// kept open), or null when the provider cannot be opened.
std::unique_ptr<Sha1Hasher> MakeCngSha1Hasher();

// A hasher on Boost's SHA-1; never fails.
std::unique_ptr<Sha1Hasher> MakeBoostSha1Hasher();

// The hasher that file digests use: CNG when it can be opened, otherwise Boost.
// Created at the first call and kept for the life of the process; the same
// thread-affinity as CalFileSHA1 applies (engine worker thread only).
Sha1Hasher& FileDigestHasher();

// Gives up the CNG hasher for the rest of the process (after it failed in
// the middle of a file): FileDigestHasher returns the Boost hasher from now on.
void FallBackToBoostSha1();

// Test hook, never called by the programs: with `unavailable` true the CNG
// provider counts as one that cannot be opened, so MakeCngSha1Hasher returns
// null and FileDigestHasher picks the Boost hasher; false restores the normal
// choice. Either way the hasher of FileDigestHasher is chosen again.
void SetCngSha1UnavailableForTesting(bool unavailable);

// Test hook, never called by the programs: FileDigestHasher returns `hasher`
// from now on (a test's hasher that watches or disturbs a file digest); null
// restores the normal choice.
void ReplaceFileDigestHasherForTesting(std::unique_ptr<Sha1Hasher> hasher);
