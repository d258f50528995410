#include "diag/statistics.h"

#include <glog/logging.h>

bool LoadStatContext(const wchar_t* installedIni, const wchar_t* newIni) {
    LOG(INFO) << "LoadStatContext: statistics are not built yet";
    return false;
}

StatPoint::StatPoint(const char* name) : m_name(name ? name : "") {}

void StatPoint::AddString(const char* key, const std::wstring& value) {}

void StatPoint::AddInt(const char* key, int value) {}

bool StatPoint::Send() {
    if (m_sent) return false;
    m_sent = true;
    LOG(INFO) << "StatPoint::Send: statistics are not built yet, point " << m_name;
    return false;
}
