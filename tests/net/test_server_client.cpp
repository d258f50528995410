#include "net/test_server_client.h"

#include <windows.h>
#include <winhttp.h>

#include <json/json.h>

#include <atomic>
#include <random>
#include <sstream>

#include "support/test_support.h"
#include "velisk/handles.h"

namespace net_testing {

using testing_support::ReadBytes;
using testing_support::Utf8ToWide;

std::wstring ServerStateDir() { return testing_support::WinePath(VELISK_BINARY_DIR, L"test_server"); }

static std::wstring LogPath() { return ServerStateDir() + L"\\requests.log"; }

ServedFolder::ServedFolder() {
    static std::atomic<unsigned> counter{0};
    m_nonce = "n" + std::to_string(::GetCurrentProcessId()) + "_" + std::to_string(::GetTickCount()) + "_" +
              std::to_string(counter++);
    m_dir = ServerStateDir() + L"\\www\\" + Utf8ToWide(m_nonce);
    ::CreateDirectoryW(m_dir.c_str(), nullptr);
    m_logMark = ReadBytes(LogPath()).size();
}

ServedFolder::~ServedFolder() { testing_support::RemoveTree(m_dir); }

bool ServedFolder::Put(const std::string& name, const std::string& bytes) {
    return testing_support::WriteBytes(m_dir + L"\\" + Utf8ToWide(name), bytes);
}

bool ServedFolder::Remove(const std::string& name) {
    std::wstring path = m_dir + L"\\" + Utf8ToWide(name);
    for (wchar_t& c : path) c = c == L'/' ? L'\\' : c;
    return ::DeleteFileW(path.c_str()) != FALSE;
}

std::wstring ServedFolder::Url(const std::string& name) const {
    return Utf8ToWide("http://localhost/" + m_nonce + "/" + name);
}

std::wstring ServedFolder::FaultUrl(const std::string& faults, const std::string& name) const {
    return Utf8ToWide("http://localhost/fault/" + faults + ",id=" + m_nonce + "/" + m_nonce + "/" + name);
}

static std::vector<Json::Value> LogEntriesAfter(size_t mark) {
    const std::string text = ReadBytes(LogPath());
    std::vector<Json::Value> entries;
    std::istringstream lines(text.size() > mark ? text.substr(mark) : std::string());
    Json::CharReaderBuilder builder;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    for (std::string line; std::getline(lines, line);) {
        Json::Value entry;
        if (reader->parse(line.data(), line.data() + line.size(), &entry, nullptr)) entries.push_back(entry);
    }
    return entries;
}

std::vector<LoggedRequest> ServedFolder::Requests() const {
    std::vector<LoggedRequest> requests;
    for (const Json::Value& entry : LogEntriesAfter(m_logMark)) {
        const std::string path = entry.get("path", "").asString();
        if (path.find(m_nonce) == std::string::npos) continue;
        LoggedRequest r;
        r.scheme = entry.get("scheme", "").asString();
        r.path = path;
        r.hasRange = entry["range"].isString();
        r.range = r.hasRange ? entry["range"].asString() : std::string();
        r.viaProxy = entry["via"].isString();
        r.status = entry.get("status", 0).asInt();
        requests.push_back(r);
    }
    return requests;
}

bool UseUntrustedCertificate(bool untrusted) {
    velisk::UniqueInternetHandle session(
        ::WinHttpOpen(L"net_tests", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session) return false;
    velisk::UniqueInternetHandle connect(::WinHttpConnect(session.get(), L"localhost", 80, 0));
    if (!connect) return false;
    const wchar_t* path = untrusted ? L"/_control?tls=untrusted" : L"/_control?tls=trusted";
    velisk::UniqueInternetHandle request(::WinHttpOpenRequest(connect.get(), L"GET", path, nullptr,
                                                              WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, 0));
    if (!request || !::WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA,
                                          0, 0, 0) ||
        !::WinHttpReceiveResponse(request.get(), nullptr)) {
        return false;
    }
    DWORD status = 0;
    DWORD size = sizeof(status);
    return ::WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                                 WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX) &&
           status == 200;
}

std::string RandomBytes(size_t size, unsigned seed) {
    std::mt19937 generator(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes) c = static_cast<char>(generator() & 0xFF);
    return bytes;
}

}  // namespace net_testing
