#include "diag/stat_server_client.h"

#include <winhttp.h>

#include <json/reader.h>

#include <cctype>
#include <cstdlib>
#include <memory>

#include "support/test_support.h"
#include "velisk/handles.h"

namespace stat_server {
namespace {

struct ControlAnswer {
    bool ok = false;
    DWORD status = 0;
    std::string body;
};

int ControlPort() {
    const std::string text = testing_support::ReadBytes(testing_support::ProgramDir() +
                                                        L"\\..\\stat_server\\server.ready");
    return text.empty() ? 0 : std::atoi(text.c_str());
}

ControlAnswer ControlRequest(const wchar_t* verb, const std::wstring& path) {
    ControlAnswer answer;
    const int port = ControlPort();
    if (port == 0) return answer;
    velisk::UniqueInternetHandle session(
        ::WinHttpOpen(L"stat-server-test", WINHTTP_ACCESS_TYPE_NO_PROXY, nullptr, nullptr, 0));
    if (!session) return answer;
    velisk::UniqueInternetHandle connection(
        ::WinHttpConnect(session.get(), L"127.0.0.1", static_cast<INTERNET_PORT>(port), 0));
    if (!connection) return answer;
    velisk::UniqueInternetHandle request(
        ::WinHttpOpenRequest(connection.get(), verb, path.c_str(), nullptr, nullptr, nullptr, 0));
    if (!request || !::WinHttpSendRequest(request.get(), nullptr, 0, nullptr, 0, 0, 0) ||
        !::WinHttpReceiveResponse(request.get(), nullptr)) {
        return answer;
    }
    DWORD size = sizeof(answer.status);
    ::WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER, nullptr,
                          &answer.status, &size, nullptr);
    for (;;) {
        DWORD available = 0;
        if (!::WinHttpQueryDataAvailable(request.get(), &available) || available == 0) break;
        std::string chunk(available, '\0');
        DWORD read = 0;
        if (!::WinHttpReadData(request.get(), chunk.data(), available, &read)) break;
        answer.body.append(chunk.data(), read);
    }
    answer.ok = true;
    return answer;
}

bool ParseJson(const std::string& text, Json::Value& value) {
    Json::CharReaderBuilder builder;
    const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    std::string errors;
    return reader->parse(text.data(), text.data() + text.size(), &value, &errors);
}

std::wstring QueryEscape(const std::string& text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::wstring out;
    for (const unsigned char c : text) {
        if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
            out.push_back(static_cast<wchar_t>(c));
        } else {
            out += L'%';
            out.push_back(static_cast<wchar_t>(kHex[c >> 4]));
            out.push_back(static_cast<wchar_t>(kHex[c & 15]));
        }
    }
    return out;
}

}  // namespace

StatSession::StatSession(const SessionOptions& options) {
    std::wstring path = L"/sessions?answer=" + QueryEscape(options.answer) +
                        L"&status=" + std::to_wstring(options.status);
    if (options.hold) path += L"&hold=1";
    if (options.close) path += L"&close=1";
    const ControlAnswer answer = ControlRequest(L"POST", path);
    Json::Value reply;
    if (!answer.ok || answer.status != 200 || !ParseJson(answer.body, reply) || !reply.isObject()) {
        m_error = ControlPort() == 0 ? "statistics service not running (ctest starts it with the fixture "
                                       "stat_server; by hand: tools/stat_server/fixture.sh start <build>/stat_server)"
                                     : "statistics service did not open a session: " + answer.body;
        return;
    }
    m_port = reply.get("port", 0).asInt();
    m_open = m_port != 0;
    if (!m_open) m_error = "statistics service answered without a port";
}

StatSession::~StatSession() { Close(); }

std::wstring StatSession::baseUrl() const { return L"http://127.0.0.1:" + std::to_wstring(m_port); }

std::vector<Json::Value> StatSession::requests() const {
    std::vector<Json::Value> list;
    if (!m_open) return list;
    const ControlAnswer answer = ControlRequest(L"GET", L"/sessions/" + std::to_wstring(m_port) + L"/points");
    Json::Value all;
    if (!answer.ok || !ParseJson(answer.body, all) || !all.isArray()) return list;
    for (const auto& entry : all) list.push_back(entry);
    return list;
}

bool StatSession::WaitForRequests(size_t count, DWORD timeoutMs) const {
    return testing_support::WaitFor([&] { return requests().size() >= count; }, timeoutMs);
}

void StatSession::Release() const {
    if (m_open) ControlRequest(L"POST", L"/sessions/" + std::to_wstring(m_port) + L"/release");
}

void StatSession::Close() {
    if (!m_open) return;
    ControlRequest(L"POST", L"/sessions/" + std::to_wstring(m_port) + L"/close");
    m_open = false;
}

}  // namespace stat_server
