// Statistics points sent to the statistics service: one synchronous HTTP POST
// per point on the thread that raises it.
#pragma once

#include <json/value.h>

#include <string>

// Reads the run's context once, before the run's points are sent: version,
// versionName, appCode and domain of the installed version.ini, version and
// versionName of the new one (either path may be null), then the system name
// and the machine id. Returns the result of CollectMachineId.
bool LoadStatContext(const wchar_t* installedIni, const wchar_t* newIni);

// One statistics point: built from the context as it is at construction,
// fields are added, then it is sent at most once.
class StatPoint {
public:
    explicit StatPoint(const char* name);
    // Adds (or replaces) an extra field; the wide value is stored as UTF-8.
    void AddString(const char* key, const std::wstring& value);
    void AddInt(const char* key, int value);
    // Sends the point to the endpoint of the context's domain. True when the
    // service answered with error 0; false on every failure and on a second
    // call. Nothing is retried or logged here.
    bool Send();

private:
    std::string m_name;
    Json::Value m_extra;
    bool m_sent = false;
};
