// One-file HTTP/HTTPS download into a local folder, with an inactivity
// time-out, a cancel poll, byte-range resume of a partial file and an attempt
// loop. Blocks the calling thread until the transfer has ended; keeps no state
// between calls. Log lines carry the source unit "httpdownload".
#pragma once

#include <windows.h>

#include <cstdint>

// Called on the caller's thread after every chunk written to the file.
// `done` and `total` are byte counts of the whole file: when an attempt resumes
// a partial file, both include the bytes that were already on disk.
using HttpProgressCallback = void (*)(uint64_t done, uint64_t total, void* userData);

// Polled on the caller's thread about every millisecond while the download
// waits for the network. A non-zero result stops the current attempt and
// every later one.
using HttpCancelCallback = int (*)(void* userData);

// What to download and how. Zero the whole record, then fill what is needed:
// every field that stays 0 takes the default given beside it.
struct HttpDownloadRequest {
    // Full URL of the file, e.g. L"http://host/dir/file.zip". Required.
    // Only its host name and path are used: the scheme and any port written
    // in it are ignored; the connection goes to port 80, or 443 with `secure`.
    // The local file is named after the text after the last "/", taken
    // literally (no percent-decoding; a query string stays part of the name).
    const wchar_t* url;
    // Folder that receives the file; created with its missing parents. May end
    // with "\\" or "/" or not: the resulting path is the same. Required.
    const wchar_t* saveDir;
    // Optional buffer of at least 256 wide characters that receives the full
    // local path (saveDir + "\\" + name), also when the download failed. It
    // stays empty when that path would be longer than 255 characters.
    wchar_t* localPath;
    // Inactivity time-out in milliseconds: an attempt ends when no network
    // notification arrives for this long (0: 60000). WinHTTP's own receive
    // time-outs are set to the same value.
    uint32_t timeout;
    // Initial read size in bytes (0: 65536). Grows in 4 KiB steps while the
    // throughput keeps improving, up to 2 MiB.
    int32_t bufferSize;
    // Progress report after each chunk (null: none).
    HttpProgressCallback progress;
    // Cancel poll (null: never cancelled).
    HttpCancelCallback cancel;
    // Handed unchanged to `progress` and `cancel`.
    void* userData;
    // Non-zero: several attempts. The first attempt always starts the file
    // afresh (truncating an existing file of that name); every later one
    // resumes it with a byte range from the size already on disk. A server
    // that ignores the range and sends the whole file (status 200) has it
    // written from the start instead of appended.
    // 0: exactly one attempt.
    int retry;
    // With `retry`: the number of failed attempts in a row that add no byte
    // to the file, at most (0: 2147483647, in effect until success or
    // cancellation). An attempt that added bytes does not count and starts
    // the count afresh; it is followed at once. After attempts that added
    // none, the next starts 1 s after the failed one's start, then 2 s,
    // doubling up to 60 s (the cancel poll is answered during the pause).
    // The loop that gives up logs one WARNING line naming the URL.
    uint32_t maxAttempts;
    // Non-zero: HTTPS to port 443; 0: plain HTTP to port 80. A server
    // certificate that WinHTTP rejects with ERROR_WINHTTP_SECURE_FAILURE makes
    // the attempt relax the certificate checks and send the request again.
    int secure;
    // The most bytes the local file may hold, the part of a resumed file
    // already on disk included (0: kDefaultMaxDownloadBytes). A response
    // whose Content-Length would take the file past it is refused before a
    // byte is written, and no more than Content-Length bytes are ever read.
    // Each refusal is one WARNING line naming the URL; the attempt fails as
    // a transfer error does.
    uint32_t maxBytes;
};
#if defined(__i386__)
static_assert(sizeof(HttpDownloadRequest) == 48, "twelve 32-bit fields");
#endif

// The bound of a download that names none: 4 GiB - 1, the most that an
// archive read through 32-bit positions can hold.
constexpr uint32_t kDefaultMaxDownloadBytes = 0xFFFFFFFFu;

// Downloads `request.url` into `request.saveDir` as the request describes.
// Returns true when the last attempt received the whole file (its size is the
// response's Content-Length, within `maxBytes`; a response without
// Content-Length or with length 0 never succeeds, and a 206 must carry a
// Content-Range that starts at the offset asked for and spans that length). Returns false when
// every attempt failed or the cancel poll asked to stop. The file stays on
// disk after a failure, partial or not. Never throws by itself; an exception
// thrown by the caller's `progress` or `cancel` ends the download and passes
// through once WinHTTP has let go of the attempt's memory.
bool HttpDownload(const HttpDownloadRequest& request);
