#include "diag/statistics.h"

#include <windows.h>

#include <exception>

#include "diag/http_post.h"
#include "diag/machine_id.h"
#include "diag/os_name.h"
#include "diag/report_endpoints.h"
#include "diag/stat_record.h"
#include "diag/utf8.h"

namespace {

constexpr wchar_t kUpdate[] = L"update";

// The run's context: written by LoadStatContext before the points are sent,
// only read afterwards.
StatContext& Context() {
    static StatContext context;
    return context;
}

std::wstring ReadProfileText(const wchar_t* ini, const wchar_t* key, int bufferChars) {
    wchar_t buffer[64] = {};
    ::GetPrivateProfileStringW(kUpdate, key, L"", buffer, static_cast<DWORD>(bufferChars), ini);
    return buffer;
}

int ReadProfileInt(const wchar_t* ini, const wchar_t* key) {
    return static_cast<int>(::GetPrivateProfileIntW(kUpdate, key, 0, ini));
}

}  // namespace

bool LoadStatContext(const wchar_t* installedIni, const wchar_t* newIni) {
    StatContext& context = Context();
    if (installedIni != nullptr) {
        context.installedVersion = ReadProfileInt(installedIni, L"version");
        context.installedVersionName = ReadProfileText(installedIni, L"versionName", 32);
        context.appCode = ReadProfileText(installedIni, L"appCode", 40);
        context.domain = ReadProfileInt(installedIni, L"domain");
    }
    if (newIni != nullptr) {
        context.newVersion = ReadProfileInt(newIni, L"version");
        context.newVersionName = ReadProfileText(newIni, L"versionName", 32);
    }
    CollectOsName(context.osName);
    return CollectMachineId(context.machineId);
}

StatPoint::StatPoint(const char* name) : m_name(name ? name : ""), m_extra(StatBaseFields(Context())) {}

void StatPoint::AddString(const char* key, const std::wstring& value) {
    if (key != nullptr) m_extra[key] = EncodeUtf8(value);
}

void StatPoint::AddInt(const char* key, int value) {
    if (key != nullptr) m_extra[key] = value;
}

bool StatPoint::Send() {
    if (m_sent) return false;
    m_sent = true;
    const StatContext& context = Context();
    std::string body;
    try {
        const Json::Value record = BuildStatRecord(context, m_name, m_extra, StatTimeStamp());
        if (!BuildStatBody(WriteStatRecord(record), body)) return false;
    } catch (const std::exception&) {
        return false;
    }
    HttpPostResult result = HttpPost(StatisticsUrl(context.domain), body.data(), body.size());
    body.clear();
    if (result.code != kHttpPostOk) return false;
    return IsDeliveredAnswer(result.response);
}
