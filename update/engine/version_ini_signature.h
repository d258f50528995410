// The authentication of a new version.ini: its detached signature by a
// built-in key, checked before any of its values is read, and the private
// copy of the verified bytes that the run reads from then on.
#pragma once

#include <memory>
#include <span>
#include <string>

#include "engine/held_files.h"
#include "engine/manifest_keys.h"

// Suffix of the signature file beside a version.ini ("version.ini.sig").
extern const wchar_t kVersionIniSignatureSuffix[];

// Verified version.ini bytes and their signature, written into a new folder
// of the user's temporary folder and held open there for the object's life:
// the handles deny writing, renaming and deleting to every other open, so
// whatever reads the copy by path reads exactly the verified bytes. The
// folder is removed when the object goes.
class HeldVersionIni {
public:
    // Writes the copy; null (after a WARNING line) when the folder or a file
    // cannot be made.
    static std::unique_ptr<HeldVersionIni> Create(const std::string& ini, const std::string& signature);
    ~HeldVersionIni();
    HeldVersionIni(const HeldVersionIni&) = delete;
    HeldVersionIni& operator=(const HeldVersionIni&) = delete;

    // Path of the private version.ini (its signature is this + ".sig").
    const std::wstring& path() const { return m_iniPath; }
    // Writes the verified bytes as `folder`\version.ini and `folder`\version.ini.sig
    // (replacing both, each flushed); false when one cannot be written.
    bool WriteCopiesTo(const std::wstring& folder) const;

private:
    HeldVersionIni() = default;
    std::wstring m_folder;
    std::wstring m_iniPath;
    std::string m_ini;
    std::string m_signature;
    HeldFiles m_held;  // both files, each under its path
};

// Checks the version.ini at `iniPath` with the signature `iniPath` + ".sig"
// against `keys` and returns the held private copy of the verified bytes.
// Null after one ERROR line "version.ini refused: <reason>" when a file is
// missing, unreadable or too large, the signature is malformed, no key
// verifies it, or the copy cannot be made. Must not be called without keys.
std::unique_ptr<HeldVersionIni> AuthenticateVersionIni(const std::wstring& iniPath,
                                                       std::span<const ManifestPublicKey> keys);
