// Implementation of patch_apply.h over libzstd's streaming decoder.
#include "engine/patch_apply.h"

#include <windows.h>

#include <zstd.h>

#include <memory>
#include <new>

#include "velisk/handles.h"

namespace {

// Largest single ReadFile/WriteFile call.
constexpr DWORD kMaxIoBytes = 8u * 1024 * 1024;

struct DCtxFree {
    void operator()(ZSTD_DCtx* context) const { ZSTD_freeDCtx(context); }
};
using UniqueDCtx = std::unique_ptr<ZSTD_DCtx, DCtxFree>;

velisk::UniqueFileHandle OpenForReading(const std::wstring& path) {
    return velisk::UniqueFileHandle(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                  nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
}

// Reads exactly `size` bytes; false on a failed or short read.
bool ReadExactly(HANDLE file, unsigned char* buffer, uint64_t size) {
    uint64_t done = 0;
    while (done < size) {
        const DWORD wanted = static_cast<DWORD>(size - done < kMaxIoBytes ? size - done : kMaxIoBytes);
        DWORD got = 0;
        if (!::ReadFile(file, buffer + done, wanted, &got, nullptr) || got == 0) return false;
        done += got;
    }
    return true;
}

bool WriteAll(HANDLE file, const unsigned char* data, size_t size) {
    while (size > 0) {
        const DWORD wanted = static_cast<DWORD>(size < kMaxIoBytes ? size : kMaxIoBytes);
        DWORD written = 0;
        if (!::WriteFile(file, data, wanted, &written, nullptr) || written == 0) return false;
        data += written;
        size -= written;
    }
    return true;
}

// The whole installed file in memory; null with `reason` when it cannot be.
std::unique_ptr<unsigned char[]> LoadBase(const std::wstring& path, uint64_t& size, std::string& reason) {
    velisk::UniqueFileHandle file = OpenForReading(path);
    LARGE_INTEGER length = {};
    if (!file || !::GetFileSizeEx(file.get(), &length)) {
        reason = "installed file cannot be opened";
        return nullptr;
    }
    size = static_cast<uint64_t>(length.QuadPart);
    if (size == 0 || size > kMaxPatchedFileBytes) {
        reason = size == 0 ? "installed file is empty" : "installed file larger than the patch limit";
        return nullptr;
    }
    std::unique_ptr<unsigned char[]> data(new (std::nothrow) unsigned char[static_cast<size_t>(size)]);
    if (!data) {
        reason = "no memory for the installed file";
        return nullptr;
    }
    if (!ReadExactly(file.get(), data.get(), size)) {
        reason = "installed file cannot be read";
        return nullptr;
    }
    return data;
}

// Streams every byte of `patch` through `context` into `output`.
bool DecodeFrame(ZSTD_DCtx* context, HANDLE patch, HANDLE output, uint64_t targetSize, std::string& reason) {
    const size_t inCapacity = ZSTD_DStreamInSize();
    const size_t outCapacity = ZSTD_DStreamOutSize();
    std::unique_ptr<unsigned char[]> in(new (std::nothrow) unsigned char[inCapacity]);
    std::unique_ptr<unsigned char[]> out(new (std::nothrow) unsigned char[outCapacity]);
    if (!in || !out) {
        reason = "no memory for the patch buffers";
        return false;
    }
    uint64_t produced = 0;
    size_t frameLeft = 1;  // ZSTD_decompressStream's hint: 0 once the frame is complete
    for (;;) {
        DWORD got = 0;
        if (!::ReadFile(patch, in.get(), static_cast<DWORD>(inCapacity), &got, nullptr)) {
            reason = "patch cannot be read";
            return false;
        }
        if (got == 0) break;
        if (frameLeft == 0) {
            reason = "data after the patch's frame";
            return false;
        }
        ZSTD_inBuffer input = {in.get(), got, 0};
        while (input.pos < input.size) {
            if (frameLeft == 0) {
                reason = "data after the patch's frame";
                return false;
            }
            ZSTD_outBuffer chunk = {out.get(), outCapacity, 0};
            frameLeft = ZSTD_decompressStream(context, &chunk, &input);
            if (ZSTD_isError(frameLeft)) {
                reason = std::string("patch does not decode: ") + ZSTD_getErrorName(frameLeft);
                return false;
            }
            produced += chunk.pos;
            if (produced > targetSize) {
                reason = "patch result larger than the listed size";
                return false;
            }
            if (!WriteAll(output, out.get(), chunk.pos)) {
                reason = "patched file cannot be written";
                return false;
            }
        }
    }
    if (frameLeft != 0) {
        reason = "patch ends before its frame does";
        return false;
    }
    if (produced != targetSize) {
        reason = "patch result smaller than the listed size";
        return false;
    }
    return true;
}

}  // namespace

bool ApplyZstdPatch(const std::wstring& basePath, const std::wstring& patchPath, const std::wstring& outputPath,
                    uint64_t targetSize, std::string& reason) {
    if (targetSize == 0 || targetSize > kMaxPatchedFileBytes) {
        reason = "listed size out of the patch limit";
        return false;
    }
    uint64_t baseSize = 0;
    const std::unique_ptr<unsigned char[]> base = LoadBase(basePath, baseSize, reason);
    if (!base) return false;
    const velisk::UniqueFileHandle patch = OpenForReading(patchPath);
    if (!patch) {
        reason = "patch cannot be opened";
        return false;
    }
    const velisk::UniqueFileHandle output(::CreateFileW(outputPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                                        CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!output) {
        reason = "patched file cannot be created";
        return false;
    }
    const UniqueDCtx context(ZSTD_createDCtx());
    if (!context ||
        ZSTD_isError(ZSTD_DCtx_setParameter(context.get(), ZSTD_d_windowLogMax, kPatchWindowLogMax)) ||
        ZSTD_isError(ZSTD_DCtx_refPrefix(context.get(), base.get(), static_cast<size_t>(baseSize)))) {
        reason = "zstd decoder cannot be set up";
        return false;
    }
    return DecodeFrame(context.get(), patch.get(), output.get(), targetSize, reason);
}
