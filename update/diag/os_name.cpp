#include "diag/os_name.h"

#include <windows.h>

namespace {

constexpr unsigned kWorkstation = 1;  // VER_NT_WORKSTATION
constexpr int kSmServerR2 = 89;       // SM_SERVERR2

constexpr const char* kNames[] = {
    "unknown OperatingSystem.",
    "Windows_NT 4.0",
    "Windows 95",
    "Windows 98",
    "Windows Me",
    "Windows 2000",
    "Windows XP",
    "Windows XP Professional x64 Edition",
    "Windows Server 2003",
    "Microsoft Windows Server 2003 R2",
    "Microsoft Windows Vista",
    "Microsoft Windows Server 2008",
    "Windows 7",
    "Windows Server 2008 R2",
    "Windows 8",
    "Windows Server 2012",
    "Windows 8.1",
    "Windows Server 2012 R2",
    "Windows 10",
};

// Workstation and server codes of the 6.x systems.
int NtSixCode(unsigned minor, bool workstation) {
    if (minor > 3) return 0;
    return 10 + 2 * static_cast<int>(minor) + (workstation ? 0 : 1);
}

using RtlGetNtVersionNumbersFn = void(WINAPI*)(DWORD*, DWORD*, DWORD*);

}  // namespace

int OsVersionCodeFor(const OsVersionFacts& f) {
    const bool workstation = f.productType == kWorkstation;
    switch (f.major) {
        case 4:
            if (f.minor == 0 && f.platformId == VER_PLATFORM_WIN32_NT) return 1;
            if (f.minor == 0 && f.platformId == VER_PLATFORM_WIN32_WINDOWS) return 2;
            if (f.minor == 10) return 3;
            if (f.minor == 90) return 4;
            return 0;
        case 5:
            if (f.minor == 0) return 5;
            if (f.minor == 1) return 6;
            if (f.minor != 2) return 0;
            if (workstation) return 7;
            return f.serverR2 == 0 ? 8 : 9;
        case 6:
            return NtSixCode(f.minor, workstation);
        case 10:
            return f.minor == 0 ? 18 : 0;
        default:
            return 0;
    }
}

const char* OsNameForCode(int code) {
    if (code < 0 || code >= static_cast<int>(sizeof(kNames) / sizeof(kNames[0]))) return kNames[0];
    return kNames[code];
}

int GetOsVersionCode() {
    OsVersionFacts facts;
    if (HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll")) {
        auto query = reinterpret_cast<RtlGetNtVersionNumbersFn>(
            reinterpret_cast<void*>(::GetProcAddress(ntdll, "RtlGetNtVersionNumbers")));
        if (query != nullptr) {
            DWORD major = 0, minor = 0, build = 0;
            query(&major, &minor, &build);
            facts.major = major;
            facts.minor = minor;
        }
    }
    OSVERSIONINFOEXW info = {};
    info.dwOSVersionInfoSize = sizeof(info);
    if (::GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&info))) {
        facts.platformId = info.dwPlatformId;
        facts.productType = info.wProductType;
    }
    facts.serverR2 = ::GetSystemMetrics(kSmServerR2);
    return OsVersionCodeFor(facts);
}

bool CollectOsName(std::string& name) {
    const int code = GetOsVersionCode();
    name = std::string(OsNameForCode(code)).substr(0, 39);
    return code != 0;
}
