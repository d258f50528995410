// Rebuilding a file from the installed version and a zstd patch (a zstd
// frame made with the installed file as its prefix, `zstd --patch-from`).
#pragma once

#include <cstdint>
#include <string>

// Largest installed file, and largest result, that is patched; larger files
// are always taken from their full archive. The installed file is held in
// memory whole (zstd references it as one prefix) and the decoder's window
// buffer holds at most min(window, result) bytes, so one patch needs at most
// 2 x 96 MiB + about 1 MiB, which a 32-bit process can give.
constexpr uint64_t kMaxPatchedFileBytes = 96ull * 1024 * 1024;

// Largest window the decoder accepts (2^27 = 128 MiB): the window the release
// tool's zstd picks for a result of at most kMaxPatchedFileBytes.
constexpr int kPatchWindowLogMax = 27;

// Writes `outputPath` (created or truncated) from the file at `basePath` and
// the patch at `patchPath`, which must hold exactly one zstd frame whose
// result has exactly `targetSize` bytes. The patch is streamed in small
// pieces and the result is written as it is decoded; nothing past
// `targetSize` is written. Returns false with a short `reason` (for the log)
// when the base is missing, empty or larger than kMaxPatchedFileBytes, the
// target size is out of range, memory cannot be had, the patch is damaged,
// asks for a larger window, ends early or carries more data, or a read or
// write fails. The output file may then hold a part of the result.
bool ApplyZstdPatch(const std::wstring& basePath, const std::wstring& patchPath, const std::wstring& outputPath,
                    uint64_t targetSize, std::string& reason);
