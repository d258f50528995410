#include "engine/zip_wide_io.h"

#include <share.h>

#include <cstdint>
#include <cstdio>

namespace {

voidpf ZCALLBACK OpenWide(voidpf, const char* filename, int mode) {
    if (filename == nullptr) return nullptr;
    const wchar_t* fopenMode = nullptr;
    if ((mode & ZLIB_FILEFUNC_MODE_READWRITEFILTER) == ZLIB_FILEFUNC_MODE_READ) {
        fopenMode = L"rb";
    } else if (mode & ZLIB_FILEFUNC_MODE_EXISTING) {
        fopenMode = L"r+b";
    } else if (mode & ZLIB_FILEFUNC_MODE_CREATE) {
        fopenMode = L"wb";
    }
    if (fopenMode == nullptr) return nullptr;
    return ::_wfsopen(reinterpret_cast<const wchar_t*>(filename), fopenMode, _SH_DENYNO);
}

uLong ZCALLBACK ReadStream(voidpf, voidpf stream, void* buffer, uLong size) {
    return static_cast<uLong>(std::fread(buffer, 1, size, static_cast<FILE*>(stream)));
}

uLong ZCALLBACK WriteStream(voidpf, voidpf stream, const void* buffer, uLong size) {
    return static_cast<uLong>(std::fwrite(buffer, 1, size, static_cast<FILE*>(stream)));
}

// minizip's 32-bit table carries positions as unsigned 32-bit values; the
// 64-bit CRT calls keep positions between 2 GiB and 4 GiB intact instead of
// turning them negative. Beyond that the position cannot be expressed.
long ZCALLBACK TellStream(voidpf, voidpf stream) {
    const int64_t position = ::_ftelli64(static_cast<FILE*>(stream));
    if (position < 0 || position >= 0xFFFFFFFFLL) return -1;
    return static_cast<long>(static_cast<uLong>(position));
}

long ZCALLBACK SeekStream(voidpf, voidpf stream, uLong offset, int origin) {
    int whence = 0;
    switch (origin) {
        case ZLIB_FILEFUNC_SEEK_SET: whence = SEEK_SET; break;
        case ZLIB_FILEFUNC_SEEK_CUR: whence = SEEK_CUR; break;
        case ZLIB_FILEFUNC_SEEK_END: whence = SEEK_END; break;
        default: return -1;
    }
    return ::_fseeki64(static_cast<FILE*>(stream), static_cast<int64_t>(offset), whence) == 0 ? 0 : -1;
}

int ZCALLBACK CloseStream(voidpf, voidpf stream) { return std::fclose(static_cast<FILE*>(stream)); }

int ZCALLBACK StreamError(voidpf, voidpf stream) { return std::ferror(static_cast<FILE*>(stream)); }

}  // namespace

void FillWideFileFunctions(zlib_filefunc_def* table) {
    table->zopen_file = OpenWide;
    table->zread_file = ReadStream;
    table->zwrite_file = WriteStream;
    table->ztell_file = TellStream;
    table->zseek_file = SeekStream;
    table->zclose_file = CloseStream;
    table->zerror_file = StreamError;
    table->opaque = nullptr;
}
