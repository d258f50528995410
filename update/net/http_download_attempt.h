// The building blocks of one download attempt over asynchronous WinHTTP.
// HttpDownload (net/http_download.h) runs attempts; these are exposed for it
// and for tests that drive a single attempt or its steps.
#pragma once

#include <windows.h>
#include <winhttp.h>

#include <atomic>
#include <cstdint>

#include "net/http_download.h"
#include "velisk/handles.h"

// Shared between the attempt (caller's thread) and HttpStatusCallback
// (WinHTTP's threads); its address is the request handle's context value. It
// must outlive every notification of the request, so the attempt destroys it
// only after the handle's closing notification.
struct HttpDownloadContext {
    // `timeExpire` is the inactivity time-out in milliseconds.
    explicit HttpDownloadContext(DWORD timeExpire);

    // Auto-reset; set when response headers are available and when a read
    // completes, so each such notification releases exactly one wait.
    velisk::UniqueKernelHandle dataEvent;
    // GetTickCount() of the last headers-available, read-complete,
    // send-complete or closing notification (or of creation).
    std::atomic<DWORD> lastActive;
    DWORD timeExpire;
    // Set by the caller's thread when the cancel poll asked to stop.
    bool cancelled = false;
    // Auto-reset; set by the request handle's closing notification.
    velisk::UniqueKernelHandle closedEvent;
    // Bytes delivered by the last read-complete notification.
    std::atomic<DWORD> bytesRead{0};
};

// One attempt: GET `url` (host and path only; port 80, or 443 with `secure`)
// into `saveDir`. `localPathOut` (256 wide characters, may be null) receives
// the local path. `timeout` is the inactivity time-out in ms, `bufferSize`
// the first read size. `resume` continues an existing file: its size is asked
// for with "Range:bytes=N-" and the body is appended; without `resume` the
// file is truncated. A server that ignores the range (status 200) makes the
// attempt start the file over. `progress`, `cancel` and `userData` are as in
// HttpDownloadRequest. `cancelledOut` (may be null) receives whether the
// cancel poll stopped this attempt, whatever the result. `maxBytes` bounds
// the file as HttpDownloadRequest::maxBytes does (0: the default bound).
// Returns true when Content-Length bytes were received and written. Throws nothing itself; an
// exception thrown by `progress` or `cancel` passes through, but only after
// the attempt has closed its handles and seen the closing notification.
// The request goes through the proxy that RequestProxy (diag/proxy_settings.h)
// chooses; a proxy's 407 is answered once with the user's logon.
bool HttpDownloadImpl(const wchar_t* url, const wchar_t* saveDir, wchar_t* localPathOut, DWORD timeout,
                      int32_t bufferSize, HttpProgressCallback progress, HttpCancelCallback cancel,
                      void* userData, bool resume, bool* cancelledOut, bool secure, uint64_t maxBytes = 0);

// Opens the local file for `url` in `saveDir` (created with missing parents)
// for writing, shared for reading. `localPathOut` (256 wide characters, may be
// null) receives the path. With `truncate` the file is created empty;
// otherwise an existing file is opened as it is. `existedOut` (may be null)
// tells whether the file existed before. Returns the file handle, or
// INVALID_HANDLE_VALUE when the file cannot be opened or the path would be
// longer than 255 characters (then `localPathOut` stays empty).
HANDLE OpenTargetFile(const wchar_t* url, const wchar_t* saveDir, wchar_t* localPathOut, bool truncate,
                      bool* existedOut);

// Waits for the response headers of a sent request, polling `cancel` about
// every millisecond. Returns true for status 200 or 206; false for any other
// status, a time-out of `context`, or a cancel (then context.cancelled is set).
bool WaitForResponse(HINTERNET hRequest, HttpCancelCallback cancel, void* userData,
                     HttpDownloadContext& context);

// Starts an asynchronous read of `count` bytes into `buffer` and waits for it,
// polling `cancel` about every millisecond. Returns true when the read
// completed (context.bytesRead holds the count, 0 at the end of the data);
// false on a time-out or a cancel (then context.cancelled is set). The buffer
// must stay valid until the request handle's closing notification.
bool ReadChunk(HINTERNET hRequest, void* buffer, DWORD count, HttpCancelCallback cancel, void* userData,
               HttpDownloadContext& context);

// WinHTTP status callback for a request whose context value is the address of
// an HttpDownloadContext. Records activity, releases the waits and, on a
// certificate failure (ERROR_WINHTTP_SECURE_FAILURE), relaxes the certificate
// checks and sends the request again.
void CALLBACK HttpStatusCallback(HINTERNET handle, DWORD_PTR contextValue, DWORD status, LPVOID info,
                                 DWORD infoLength);
