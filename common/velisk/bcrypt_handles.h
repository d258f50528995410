// Owning wrappers for CNG (bcrypt) objects, on the owner template of
// velisk/handles.h: algorithm providers, hash objects and keys. Users link
// bcrypt.
#pragma once

#include <windows.h>
#include <bcrypt.h>

#include "velisk/handles.h"

namespace velisk {
namespace handle_traits {

struct BCryptAlgorithm {
    using Handle = BCRYPT_ALG_HANDLE;
    static Handle Null() { return nullptr; }
    static bool IsNull(Handle h) { return h == nullptr; }
    static void Close(Handle h) { ::BCryptCloseAlgorithmProvider(h, 0); }
};

struct BCryptHash {
    using Handle = BCRYPT_HASH_HANDLE;
    static Handle Null() { return nullptr; }
    static bool IsNull(Handle h) { return h == nullptr; }
    static void Close(Handle h) { ::BCryptDestroyHash(h); }
};

struct BCryptKey {
    using Handle = BCRYPT_KEY_HANDLE;
    static Handle Null() { return nullptr; }
    static bool IsNull(Handle h) { return h == nullptr; }
    static void Close(Handle h) { ::BCryptDestroyKey(h); }
};

}  // namespace handle_traits

using UniqueBCryptAlgorithm = UniqueHandle<handle_traits::BCryptAlgorithm>;
using UniqueBCryptHash = UniqueHandle<handle_traits::BCryptHash>;
using UniqueBCryptKey = UniqueHandle<handle_traits::BCryptKey>;

}  // namespace velisk
