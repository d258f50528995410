// The authentication step of a new manifest: its signature by a built-in key
// and its version against the installed one, before the manifest is opened.
#pragma once

#include <span>
#include <string>

#include "engine/manifest_keys.h"

// Suffix of the signature file beside the manifest ("ProgramConfig.zdb.sig").
extern const wchar_t kManifestSignatureSuffix[];

// Checks `manifest`, the bytes of the unpacked manifest at `manifestPath`
// (read once by the caller, who goes on using exactly these bytes), with the
// signature file `manifestPath` + ".sig" against `keys`, then its
// "ProgramVer" row against `version` of [update] in `installedIniPath` (a
// missing file counts as 0). True when a key verifies the exact bytes, no
// ProgramVer row is lower than the installed version, and every one equals
// `iniVersion`, the version of the new version.ini (so a signed version.ini
// cannot be paired with another release's manifest). Logs INFO "manifest
// signature checked: ..." on success and one ERROR "manifest refused: " +
// reason otherwise. Must not be called without keys (a build without keys
// checks nothing).
bool AuthenticateManifest(const std::string& manifest, const std::wstring& manifestPath,
                          const std::wstring& installedIniPath, int iniVersion,
                          std::span<const ManifestPublicKey> keys);
