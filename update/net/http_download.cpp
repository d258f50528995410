// One-file download over asynchronous WinHTTP. The caller's thread waits on
// the notifications that HttpStatusCallback turns into events, in 1 ms slices,
// so that the cancel poll and the inactivity time-out are seen at once.
#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <boost/filesystem.hpp>
#include <cwchar>
#include <memory>
#include <new>
#include <optional>
#include <string>

#include "diag/proxy_settings.h"
#include "diag/text_format.h"
#include "diag/unit_log.h"
#include "net/attempt_pacing.h"
#include "net/http_download.h"
#include "net/http_download_attempt.h"
#include "net/read_size.h"
#include "net/response_size.h"
#include "velisk/handles.h"

namespace {

constexpr DWORD kDefaultTimeout = 60000;
constexpr int32_t kDefaultBufferSize = 0x10000;
constexpr uint32_t kUnlimitedAttempts = 0x7FFFFFFF;
constexpr size_t kPathChars = 256;      // local path buffers, NUL included
constexpr int kConnectTimeout = 60000;  // WinHTTP's defaults
constexpr int kSendTimeout = 30000;
// SECURITY_FLAG_IGNORE_UNKNOWN_CA | _CERT_WRONG_USAGE | _CERT_CN_INVALID | _CERT_DATE_INVALID
constexpr DWORD kRelaxedSecurityFlags = 0x3300;

enum class WaitResult { kSignalled, kCancelled, kTimedOut };

// Waits on the context's data event in 1 ms slices until it is set, the
// cancel poll asks to stop (sets `cancelled`) or the context has been idle for
// longer than its time-out. `lastOut`/`nowOut` receive the tick counts of the
// time-out check.
WaitResult WaitForData(HttpCancelCallback cancel, void* userData, HttpDownloadContext& context,
                       DWORD* lastOut, DWORD* nowOut) {
    for (;;) {
        if (::WaitForSingleObject(context.dataEvent.get(), 1) == WAIT_OBJECT_0) return WaitResult::kSignalled;
        if (cancel != nullptr && cancel(userData) != 0) {
            context.cancelled = true;
            return WaitResult::kCancelled;
        }
        // lastActive is read before the clock, so `now` is never earlier than
        // it and the unsigned difference is the idle time, even across the
        // tick count's wrap.
        const DWORD last = context.lastActive.load(std::memory_order_acquire);
        const DWORD now = ::GetTickCount();
        if (now - last > context.timeExpire) {
            *lastOut = last;
            *nowOut = now;
            return WaitResult::kTimedOut;
        }
    }
}

void MarkActive(HttpDownloadContext& context) {
    context.lastActive.store(::GetTickCount(), std::memory_order_release);
}

// The last segment of the URL, taken literally.
std::wstring FileNameOf(const std::wstring& url) {
    const size_t slash = url.rfind(L'/');
    return slash == std::wstring::npos ? url : url.substr(slash + 1);
}

// saveDir + "\\" + name; a trailing "\\" or "/" of saveDir is not doubled (a
// trailing "/" becomes "\\", so every spelling gives the same path).
std::wstring LocalPathFor(const wchar_t* url, const wchar_t* saveDir) {
    std::wstring path(saveDir);
    if (!path.empty() && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
    return path + L"\\" + FileNameOf(url);
}

void EnsureFolder(const wchar_t* saveDir) {
    try {
        const boost::filesystem::path dir(saveDir);
        if (!boost::filesystem::exists(dir)) boost::filesystem::create_directories(dir);
    } catch (const std::exception& e) {
        HTTPDOWNLOAD_LOG(WARNING) << "create save dir failed " << e.what();
    }
}

bool QueryStatusCode(HINTERNET request, DWORD* status) {
    DWORD size = sizeof(*status);
    return ::WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                                 WINHTTP_HEADER_NAME_BY_INDEX, status, &size, WINHTTP_NO_HEADER_INDEX) != FALSE;
}

// The text of one response header (`query` is a WINHTTP_QUERY_ value);
// nothing when the response has none or it is longer than any value read
// here can sensibly be.
std::optional<std::wstring> QueryHeaderText(HINTERNET request, DWORD query) {
    wchar_t text[128] = {};
    DWORD size = sizeof(text) - sizeof(wchar_t);
    if (!::WinHttpQueryHeaders(request, query, WINHTTP_HEADER_NAME_BY_INDEX, text, &size, WINHTTP_NO_HEADER_INDEX)) {
        return std::nullopt;
    }
    return std::wstring(text, size / sizeof(wchar_t));
}

// Everything one attempt owns. WinHTTP writes into the context and the read
// buffer from its own threads until the request handle's closing
// notification, so closing the handles and waiting for that notification is
// part of the attempt's destruction: the context and the buffer go only after
// it on every way out, an exception thrown by a callback included.
class Attempt {
public:
    Attempt(const wchar_t* url, const wchar_t* saveDir, wchar_t* localPathOut, DWORD timeout,
            int32_t bufferSize, HttpProgressCallback progress, HttpCancelCallback cancel, void* userData,
            bool resume, bool secure, uint64_t maxBytes)
        : m_url(url), m_saveDir(saveDir), m_localPathOut(localPathOut), m_timeout(timeout), m_readSize(bufferSize),
          m_progress(progress), m_cancel(cancel), m_userData(userData), m_resume(resume), m_secure(secure),
          m_maxBytes(maxBytes), m_context(new (std::nothrow) HttpDownloadContext(timeout)) {}
    ~Attempt() { Close(); }
    Attempt(const Attempt&) = delete;
    Attempt& operator=(const Attempt&) = delete;

    // Steps up to the end of the body; true when the whole file was written.
    // An exception thrown by the progress or cancel callback passes through.
    bool Run();
    // Closes everything and waits for the closing notification (once; the
    // destructor does it when nobody did). Returns the context's cancelled
    // flag.
    bool Close();

private:
    bool OpenHandles();
    bool PrepareFile();
    bool InstallCallback();
    bool Send();
    bool ReceiveHeaders();
    // Takes the body's length from Content-Length and, for a 206, checks
    // that Content-Range places it at the offset asked for.
    bool AcceptBodySize(DWORD status);
    // Logs the one WARNING line of a refused response; returns false.
    bool Refuse(const char* reason, uint64_t value) const;
    bool ReadBody();
    bool WriteChunk(DWORD count);

    const wchar_t* m_url;
    const wchar_t* m_saveDir;
    wchar_t* m_localPathOut;
    DWORD m_timeout;
    AdaptiveReadSize m_readSize;
    HttpProgressCallback m_progress;
    HttpCancelCallback m_cancel;
    void* m_userData;
    bool m_resume;
    bool m_secure;
    uint64_t m_maxBytes;

    std::unique_ptr<HttpDownloadContext> m_context;
    std::optional<RequestProxy> m_proxy;
    velisk::UniqueInternetHandle m_session;
    velisk::UniqueInternetHandle m_connect;
    velisk::UniqueInternetHandle m_request;
    velisk::UniqueFileHandle m_file;
    bool m_callbackInstalled = false;
    bool m_rangeSent = false;
    uint64_t m_offset = 0;
    uint64_t m_fileSize = 0;
    std::unique_ptr<char[]> m_buffer;
    bool m_closed = false;
    bool m_cancelled = false;
};

bool Attempt::Run() {
    if (m_url == nullptr || m_saveDir == nullptr || !m_context || !m_context->dataEvent ||
        !m_context->closedEvent) {
        return false;
    }
    return OpenHandles() && PrepareFile() && InstallCallback() && Send() && ReceiveHeaders() && ReadBody();
}

bool Attempt::OpenHandles() {
    wchar_t host[256] = {};
    wchar_t path[256] = {};
    URL_COMPONENTS parts = {};
    parts.dwStructSize = sizeof(parts);
    parts.lpszHostName = host;
    parts.dwHostNameLength = 255;
    parts.lpszUrlPath = path;
    parts.dwUrlPathLength = 255;
    // A URL that cannot be split leaves both empty; connecting then fails.
    ::WinHttpCrackUrl(m_url, 0, ICU_ESCAPE, &parts);

    m_proxy.emplace(std::wstring(m_secure ? L"https://" : L"http://") + host + path);
    m_session.reset(m_proxy->OpenSession(L"", WINHTTP_FLAG_ASYNC));
    if (!m_session) return false;
    // WinHTTP's own receive time-outs equal the inactivity time-out: a read
    // that WinHTTP still holds when the attempt gives up then ends no later
    // than that, and with it the wait for the closing notification.
    ::WinHttpSetTimeouts(m_session.get(), 0, kConnectTimeout, kSendTimeout, static_cast<int>(m_timeout));
    const INTERNET_PORT port = m_secure ? INTERNET_DEFAULT_HTTPS_PORT : INTERNET_DEFAULT_HTTP_PORT;
    const DWORD flags = m_secure ? WINHTTP_FLAG_SECURE : 0;
    m_connect.reset(::WinHttpConnect(m_session.get(), host, port, 0));
    if (!m_connect) return false;
    m_request.reset(::WinHttpOpenRequest(m_connect.get(), L"GET", path, L"HTTP/1.1", WINHTTP_NO_REFERER,
                                         WINHTTP_DEFAULT_ACCEPT_TYPES, flags));
    if (!m_request) return false;
    m_proxy->ApplyTo(m_request.get());
    DWORD responseTimeout = m_timeout;
    ::WinHttpSetOption(m_request.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &responseTimeout,
                       sizeof(responseTimeout));
    return true;
}

bool Attempt::PrepareFile() {
    bool existed = false;
    m_file.reset(OpenTargetFile(m_url, m_saveDir, m_localPathOut, !m_resume, &existed));
    if (!m_file) return false;
    if (!m_resume || !existed) return true;

    LARGE_INTEGER size = {};
    if (!::GetFileSizeEx(m_file.get(), &size)) return false;
    m_offset = static_cast<uint64_t>(size.QuadPart);
    const std::wstring range = L"Range:bytes=" + std::to_wstring(m_offset) + L"-";
    ::WinHttpAddRequestHeaders(m_request.get(), range.c_str(), static_cast<DWORD>(range.size()),
                               WINHTTP_ADDREQ_FLAG_ADD_IF_NEW);
    m_rangeSent = true;
    LARGE_INTEGER zero = {};
    return ::SetFilePointerEx(m_file.get(), zero, nullptr, FILE_END) != FALSE;
}

bool Attempt::InstallCallback() {
    if (::WinHttpSetStatusCallback(m_request.get(), HttpStatusCallback, WINHTTP_CALLBACK_FLAG_ALL_NOTIFICATIONS,
                                   0) == WINHTTP_INVALID_STATUS_CALLBACK) {
        return false;
    }
    DWORD_PTR value = reinterpret_cast<DWORD_PTR>(m_context.get());
    if (!::WinHttpSetOption(m_request.get(), WINHTTP_OPTION_CONTEXT_VALUE, &value, sizeof(value))) {
        // Without the context value the callback ignores every notification,
        // so there is no closing notification to wait for either.
        return false;
    }
    m_callbackInstalled = true;
    return true;
}

bool Attempt::Send() {
    return ::WinHttpSendRequest(m_request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0,
                                reinterpret_cast<DWORD_PTR>(m_context.get())) != FALSE;
}

bool Attempt::ReceiveHeaders() {
    while (!WaitForResponse(m_request.get(), m_cancel, m_userData, *m_context)) {
        if (m_context->cancelled || !m_proxy->RetryWithLogon(m_request.get()) || !Send()) return false;
    }

    DWORD status = 0;
    if (!QueryStatusCode(m_request.get(), &status)) return false;
    // A server that ignores the range sends the whole file with 200:
    // appending it would corrupt the file, so it is written from the start.
    if (m_rangeSent && status == 200) {
        HTTPDOWNLOAD_LOG(INFO) << "range ignored by server, restart file at=" << m_offset;
        LARGE_INTEGER zero = {};
        if (!::SetFilePointerEx(m_file.get(), zero, nullptr, FILE_BEGIN) || !::SetEndOfFile(m_file.get())) {
            return false;
        }
        m_offset = 0;
    }
    if (!AcceptBodySize(status)) return false;
    HTTPDOWNLOAD_LOG(INFO) << "start read data ..., total file size = " << m_fileSize;
    return true;
}

bool Attempt::AcceptBodySize(DWORD status) {
    // Read as text: a number past 32 bits must not wrap into a small one.
    const std::optional<std::wstring> lengthText = QueryHeaderText(m_request.get(), WINHTTP_QUERY_CONTENT_LENGTH);
    if (!lengthText) return false;  // no length: never a complete file
    const std::optional<uint64_t> length = ParseByteCount(*lengthText);
    if (!length) return Refuse("Content-Length unreadable", 0);
    if (*length == 0) return false;
    if (m_offset > m_maxBytes || *length > m_maxBytes - m_offset) {
        return Refuse("Content-Length past the bound, length=", *length);
    }
    if (status == 206) {
        const std::optional<std::wstring> rangeText = QueryHeaderText(m_request.get(), WINHTTP_QUERY_CONTENT_RANGE);
        const std::optional<ContentRange> range = rangeText ? ParseContentRange(*rangeText) : std::nullopt;
        if (!range) return Refuse("206 without a readable Content-Range, offset=", m_offset);
        if (range->first != m_offset) return Refuse("206 Content-Range not at the offset asked for, first=", range->first);
        if (range->last - range->first + 1 != *length) return Refuse("206 Content-Range and Content-Length differ, last=", range->last);
        if (range->total && *range->total > m_maxBytes) return Refuse("206 Content-Range total past the bound, total=", *range->total);
    }
    m_fileSize = *length;
    return true;
}

bool Attempt::Refuse(const char* reason, uint64_t value) const {
    HTTPDOWNLOAD_LOG(WARNING) << "download refused: " << reason << value << " offset=" << m_offset
                              << " bound=" << m_maxBytes << " url=" << WideToUtf8Log(m_url);
    return false;
}

bool Attempt::ReadBody() {
    m_buffer.reset(new (std::nothrow) char[static_cast<size_t>(m_readSize.size())]);
    if (!m_buffer) return false;
    uint64_t sizeRead = 0;
    while (sizeRead < m_fileSize) {
        const DWORD count = static_cast<DWORD>(
            std::min<uint64_t>(static_cast<uint64_t>(m_readSize.size()), m_fileSize - sizeRead));
        const DWORD start = ::GetTickCount();
        if (!ReadChunk(m_request.get(), m_buffer.get(), count, m_cancel, m_userData, *m_context)) break;
        const DWORD elapsed = ::GetTickCount() - start;
        const DWORD got = std::min(m_context->bytesRead.load(std::memory_order_acquire), count);
        // The end of the data before Content-Length bytes: the server closed
        // the connection early. Reading on would only repeat the empty read.
        if (got == 0) break;
        sizeRead += got;
        HTTPDOWNLOAD_LOG(INFO) << "total read size=" << sizeRead << ", this loop read size=" << got;
        if (!WriteChunk(got)) return false;
        if (m_progress != nullptr) m_progress(m_offset + sizeRead, m_offset + m_fileSize, m_userData);
        if (m_readSize.OnChunk(got, elapsed)) {
            // No read is outstanding here, so the buffer can be replaced.
            m_buffer.reset(new (std::nothrow) char[static_cast<size_t>(m_readSize.size())]);
            if (!m_buffer) return false;
        }
    }
    if (sizeRead >= m_fileSize) return true;
    HTTPDOWNLOAD_LOG(INFO) << "sizeRead < filesize :sizeRead=" << sizeRead << " filesize=" << m_fileSize;
    return false;
}

bool Attempt::WriteChunk(DWORD count) {
    DWORD written = 0;
    if (::WriteFile(m_file.get(), m_buffer.get(), count, &written, nullptr) && written == count) return true;
    HTTPDOWNLOAD_LOG(ERROR) << "WriteFile failed error=" << ::GetLastError() << " written=" << written << " of " << count;
    return false;
}

bool Attempt::Close() {
    if (m_closed) return m_cancelled;
    m_closed = true;
    m_file.reset();
    bool requestClosed = true;
    if (HINTERNET request = m_request.release()) {
        if (!::WinHttpCloseHandle(request)) {
            HTTPDOWNLOAD_LOG(INFO) << "WinHttpCloseHandle(hRequest) " << ::GetLastError();
            requestClosed = false;
        }
    }
    m_connect.reset();
    m_session.reset();
    // After the closing notification WinHTTP sends nothing more for this
    // request, so the context and the buffer may go. A handle whose close
    // failed sends no closing notification to wait for.
    if (m_callbackInstalled && requestClosed) ::WaitForSingleObject(m_context->closedEvent.get(), INFINITE);
    m_buffer.reset();
    m_cancelled = m_context && m_context->cancelled;
    m_context.reset();
    return m_cancelled;
}

}  // namespace

HttpDownloadContext::HttpDownloadContext(DWORD timeExpireMs)
    : dataEvent(::CreateEventW(nullptr, FALSE, FALSE, nullptr)),
      lastActive(::GetTickCount()),
      timeExpire(timeExpireMs),
      closedEvent(::CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}

HANDLE OpenTargetFile(const wchar_t* url, const wchar_t* saveDir, wchar_t* localPathOut, bool truncate,
                      bool* existedOut) {
    if (localPathOut != nullptr) localPathOut[0] = L'\0';
    if (existedOut != nullptr) *existedOut = false;
    if (url == nullptr || saveDir == nullptr) return INVALID_HANDLE_VALUE;
    EnsureFolder(saveDir);
    const std::wstring path = LocalPathFor(url, saveDir);
    if (path.size() >= kPathChars) {
        // A cut path would name a different file.
        HTTPDOWNLOAD_LOG(WARNING) << "local path too long, length=" << path.size();
        return INVALID_HANDLE_VALUE;
    }
    if (localPathOut != nullptr) std::wmemcpy(localPathOut, path.c_str(), path.size() + 1);
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    const bool existed = attributes != INVALID_FILE_ATTRIBUTES;
    if (existedOut != nullptr) *existedOut = existed;
    const DWORD mode = (!truncate && existed) ? OPEN_EXISTING : CREATE_ALWAYS;
    return ::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, mode, 0, nullptr);
}

bool WaitForResponse(HINTERNET hRequest, HttpCancelCallback cancel, void* userData, HttpDownloadContext& context) {
    DWORD last = 0;
    DWORD now = 0;
    if (WaitForData(cancel, userData, context, &last, &now) != WaitResult::kSignalled) return false;
    wchar_t text[64] = {};  // 128 bytes
    DWORD size = sizeof(text);
    if (!::WinHttpQueryHeaders(hRequest, WINHTTP_QUERY_STATUS_CODE, WINHTTP_HEADER_NAME_BY_INDEX, text, &size,
                               WINHTTP_NO_HEADER_INDEX)) {
        return false;
    }
    const long status = std::wcstol(text, nullptr, 10);
    return status == 200 || status == 206;
}

bool ReadChunk(HINTERNET hRequest, void* buffer, DWORD count, HttpCancelCallback cancel, void* userData,
               HttpDownloadContext& context) {
    context.bytesRead.store(0, std::memory_order_relaxed);
    if (!::WinHttpReadData(hRequest, buffer, count, nullptr)) {
        // The wait below then ends by time-out or cancellation.
        HTTPDOWNLOAD_LOG(ERROR) << "Error " << ::GetLastError() << " in WinHttpReadData.";
    }
    DWORD last = 0;
    DWORD now = 0;
    switch (WaitForData(cancel, userData, context, &last, &now)) {
    case WaitResult::kSignalled:
        HTTPDOWNLOAD_LOG(INFO) << "WAIT_OBJECT_0";
        return true;
    case WaitResult::kCancelled:
        HTTPDOWNLOAD_LOG(INFO) << "cancelaion";
        return false;
    case WaitResult::kTimedOut:
        HTTPDOWNLOAD_LOG(INFO) << "time out context->lastActive=" << last << "  context->timeExpire=" << context.timeExpire
                  << " now=" << now;
        return false;
    }
    return false;
}

void CALLBACK HttpStatusCallback(HINTERNET handle, DWORD_PTR contextValue, DWORD status, LPVOID info,
                                 DWORD infoLength) {
    HTTPDOWNLOAD_LOG(INFO) << "HttpStatusCallback dwInternetStatus=" << status;
    auto* context = reinterpret_cast<HttpDownloadContext*>(contextValue);
    if (context == nullptr) return;
    switch (status) {
    case WINHTTP_CALLBACK_STATUS_READ_COMPLETE:
        context->bytesRead.store(infoLength, std::memory_order_relaxed);
        MarkActive(*context);
        ::SetEvent(context->dataEvent.get());
        break;
    case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE:
        MarkActive(*context);
        ::SetEvent(context->dataEvent.get());
        break;
    case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
        MarkActive(*context);
        ::WinHttpReceiveResponse(handle, nullptr);
        break;
    case WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING:
        MarkActive(*context);
        // The attempt may destroy the context as soon as this is set.
        ::SetEvent(context->closedEvent.get());
        break;
    case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR: {
        const auto* result = static_cast<const WINHTTP_ASYNC_RESULT*>(info);
        if (result == nullptr) break;
        HTTPDOWNLOAD_LOG(WARNING) << "HttpStatusCallback request error=" << result->dwError << " api=" << result->dwResult;
        if (result->dwError != ERROR_WINHTTP_SECURE_FAILURE) break;
        // The server's certificate was rejected: relax the checks and send
        // the request again. Other errors end the wait by time-out.
        ::WinHttpSetOption(handle, WINHTTP_OPTION_CLIENT_CERT_CONTEXT, WINHTTP_NO_CLIENT_CERT_CONTEXT, 0);
        DWORD flags = kRelaxedSecurityFlags;
        ::WinHttpSetOption(handle, WINHTTP_OPTION_SECURITY_FLAGS, &flags, sizeof(flags));
        ::WinHttpSendRequest(handle, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, contextValue);
        break;
    }
    default:
        break;
    }
}

bool HttpDownloadImpl(const wchar_t* url, const wchar_t* saveDir, wchar_t* localPathOut, DWORD timeout,
                      int32_t bufferSize, HttpProgressCallback progress, HttpCancelCallback cancel,
                      void* userData, bool resume, bool* cancelledOut, bool secure, uint64_t maxBytes) {
    HTTPDOWNLOAD_LOG(INFO) << "HttpDownloadImpl begin ...";
    Attempt attempt(url, saveDir, localPathOut, timeout, bufferSize, progress, cancel, userData, resume, secure,
                    maxBytes != 0 ? maxBytes : kDefaultMaxDownloadBytes);
    const bool result = attempt.Run();
    HTTPDOWNLOAD_LOG(INFO) << "WaitForSingleObject ... ret=" << result;
    const bool cancelled = attempt.Close();
    if (cancelledOut != nullptr) *cancelledOut = cancelled;
    HTTPDOWNLOAD_LOG(INFO) << "HttpDownloadImpl over ret=" << result;
    return result;
}

bool HttpDownload(const HttpDownloadRequest& request) {
    const DWORD timeout = request.timeout != 0 ? request.timeout : kDefaultTimeout;
    const int32_t bufferSize = request.bufferSize > 0 ? request.bufferSize : kDefaultBufferSize;
    wchar_t localPath[kPathChars] = {};
    bool cancelled = false;
    bool result = false;
    if (request.retry) {
        const uint32_t limit = request.maxAttempts != 0 ? request.maxAttempts : kUnlimitedAttempts;
        AttemptPacer pacer(request.cancel, request.userData);
        uint32_t idleFailures = 0;  // failed attempts in a row that added no byte
        for (bool resume = false;; resume = true) {
            pacer.AttemptStarting(localPath);
            result = HttpDownloadImpl(request.url, request.saveDir, localPath, timeout, bufferSize,
                                      request.progress, request.cancel, request.userData, resume, &cancelled,
                                      request.secure != 0, request.maxBytes);
            if (result || cancelled) break;
            idleFailures = pacer.AddedBytes(localPath) ? 0 : idleFailures + 1;
            if (idleFailures >= limit) {
                HTTPDOWNLOAD_LOG(WARNING) << "download given up after failed attempts without progress="
                                          << idleFailures
                                          << " url=" << WideToUtf8Log(request.url != nullptr ? request.url : L"");
                break;
            }
            if (!pacer.PauseAfterFailure(localPath)) break;
        }
    } else {
        result = HttpDownloadImpl(request.url, request.saveDir, localPath, timeout, bufferSize, request.progress,
                                  request.cancel, request.userData, false, &cancelled, request.secure != 0,
                                  request.maxBytes);
    }
    if (request.localPath != nullptr) std::wmemcpy(request.localPath, localPath, kPathChars);
    return result;
}
