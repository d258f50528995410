// Statistics points sent to the statistics service.
#pragma once

#include <string>

// Reads the run's context (versions, application code, domain, system name
// and machine id) from the installed and the new version.ini; either path may
// be null. Returns whether a machine id could be collected.
bool LoadStatContext(const wchar_t* installedIni, const wchar_t* newIni);

// One statistics point: fields are added, then it is sent at most once.
class StatPoint {
public:
    explicit StatPoint(const char* name);
    void AddString(const char* key, const std::wstring& value);
    void AddInt(const char* key, int value);
    // Sends the point; true when the service answered with error 0.
    bool Send();

private:
    std::string m_name;
    bool m_sent = false;
};
