// The part of the crash-reporting library's C interface (version 1.4.3,
// "CrashRpt1403.dll") that the updater uses: the install record, the crash
// callback record and the four functions looked up by name. All functions
// use the WINAPI calling convention and are exported under their plain names.
#pragma once

#include <windows.h>

// Flags of CrInstallInfoW::dwFlags.
constexpr DWORD kCrAllExceptionHandlers = 0x1FFF;  // every exception and signal handler
constexpr DWORD kCrNoGui = 0x2000;                 // send silently, no user interface
constexpr DWORD kCrForceSend = 0x100000;           // sending is mandatory
constexpr DWORD kCrInstallFlags = kCrAllExceptionHandlers | kCrNoGui | kCrForceSend;  // 0x103FFF

// Stages at which the library calls the crash callback.
constexpr int kCrStagePrepare = 10;
constexpr int kCrStageFinish = 20;
// Answers of the crash callback.
constexpr int kCrCallbackDoDefault = 0;
constexpr int kCrCallbackCancel = 1;
constexpr int kCrCallbackNotifyNextStage = 2;

// The install record; zero every field that is not used.
struct CrInstallInfoW {
    WORD cb;  // size of this record
    LPCWSTR pszAppName;
    LPCWSTR pszAppVersion;
    LPCWSTR pszEmailTo;
    LPCWSTR pszEmailSubject;
    LPCWSTR pszUrl;
    LPCWSTR pszCrashSenderPath;
    void* pfnCrashCallback;  // obsolete callback kind, always null here
    UINT uPriorities[5];
    DWORD dwFlags;
    LPCWSTR pszPrivacyPolicyURL;
    LPCWSTR pszDebugHelpDLL;
    UINT uMiniDumpType;
    LPCWSTR pszErrorReportSaveDir;
    LPCWSTR pszRestartCmdLine;
    LPCWSTR pszLangFilePath;
    LPCWSTR pszEmailText;
    LPCWSTR pszSmtpProxy;
    LPCWSTR pszCustomSenderIcon;
    LPCWSTR pszSmtpLogin;
    LPCWSTR pszSmtpPassword;
    int nRestartTimeout;
};

#if defined(__i386__)
static_assert(sizeof(CrInstallInfoW) == 104, "install record layout (32-bit)");
#endif

// What the library hands to the crash callback.
struct CrCrashCallbackInfoW {
    WORD cb;
    int nStage;
    LPCWSTR pszErrorReportFolder;
    void* pExceptionInfo;
    LPVOID pUserParam;
    BOOL bContinueExecution;
};

using CrCrashCallbackW = int(WINAPI*)(CrCrashCallbackInfoW* info);
using CrGetLastErrorMsgAFn = int(WINAPI*)(LPSTR buffer, UINT bufferSize);
using CrInstallWFn = int(WINAPI*)(CrInstallInfoW* info);
using CrSetCrashCallbackWFn = int(WINAPI*)(CrCrashCallbackW callback, LPVOID userParam);
using CrAddFile2WFn = int(WINAPI*)(LPCWSTR file, LPCWSTR destFile, LPCWSTR description, DWORD flags);
