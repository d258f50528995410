// The operating-system name of the statistics points.
#pragma once

#include <string>

// What the system table looks at.
struct OsVersionFacts {
    unsigned major = 0;
    unsigned minor = 0;
    unsigned platformId = 0;   // OSVERSIONINFOEX dwPlatformId
    unsigned productType = 0;  // OSVERSIONINFOEX wProductType; 1 is a workstation
    int serverR2 = 0;          // GetSystemMetrics(SM_SERVERR2)
};

// The system's code (1 to 18) for `facts`, or 0 for a system the table does
// not know. 10.0 is 18 whatever the product type.
int OsVersionCodeFor(const OsVersionFacts& facts);

// The name of a code from OsVersionCodeFor; "unknown OperatingSystem." for 0
// and any code outside 1 to 18.
const char* OsNameForCode(int code);

// The code of the running system: major and minor from ntdll's
// RtlGetNtVersionNumbers (0 when ntdll or the function is missing), platform
// id and product type from GetVersionExW.
int GetOsVersionCode();

// Stores the running system's name (cut to 39 characters) in `name` and
// returns true, or stores "unknown OperatingSystem." and returns false.
bool CollectOsName(std::string& name);
