// Files of the signed-update tests, made at build time by
// make_signed_fixture.py with the test keys of this build tree.
#pragma once

#include <string>

namespace signing_testing {

// Wine path of a part of the signing fixture, e.g. L"manifests/first.zip".
std::wstring SigningFixture(const std::wstring& part);

// Wine path of a file of the test key folder, e.g. L"first.public.pem".
std::wstring TestKeyFile(const std::wstring& name);

}  // namespace signing_testing

namespace signing_testing {

// The 64-byte r || s ECDSA P-256 signature over SHA-256 of `data` by the test
// key `key` ("first", "second" or "outsider"), made with CNG; empty on failure.
std::string SignBytes(const std::string& data, const std::wstring& key);

// Writes `path` + ".sig": the signature of the file's bytes by `key`.
bool SignFile(const std::wstring& path, const std::wstring& key);

}  // namespace signing_testing
