// SHA-1 digests of whole files in the byte layout that manifests store.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

// Bytes of a file digest: the five 32-bit SHA-1 state words h0..h4 in this
// order, each stored least significant byte first (so every group of four
// bytes is the reverse of the usual SHA-1 byte string).
constexpr size_t kFileDigestBytes = 20;

// Hashes the whole file at `path` into `digest` (kFileDigestBytes bytes).
// Returns true when the digest was computed and written; false, leaving
// `digest` untouched, when nothing exists at the path, the file is empty,
// cannot be opened, or ends before the size taken at the start. A path that
// names a folder throws boost::filesystem::filesystem_error from the size
// query; callers that hash manifest names let it end their operation.
// The digest comes from the platform's CNG SHA-1 (Boost's when CNG cannot be
// opened or fails); the file is read in 4 MiB blocks by a helper thread that
// reads ahead while the caller hashes. Not reentrant: all calls share one
// 4 MiB read buffer and one hasher (engine worker thread only).
bool CalFileSHA1(const std::wstring& path, unsigned char* digest);

// Hashes the whole open file `file` from its start, like CalFileSHA1: false,
// leaving `digest` untouched, when the file is empty or cannot be read whole.
// Used for files held open since they were checked, so that the bytes hashed
// are those of the handle, whatever the path names meanwhile.
bool CalOpenFileSHA1(HANDLE file, unsigned char* digest);
