// The update engine's public face: the status record and the plug-in options
// that cross into plug-in libraries, and the engine interface.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

// Status codes of FileUpdateStatus::status.
enum FileUpdateStatusCode : int32_t {
    FUS_DOWNLOADSTART = 0,
    FUS_DOWNLOADFAIL = 1,
    FUS_DOWNLOADING = 2,
    FUS_DOWNLOADSUCCESS = 3,
    FUS_VERIFYFILE = 4,
    FUS_VERIFYFAIL = 5,
    FUS_COPYFAIL = 6,
    FUS_SUCCESS = 7,
    FUS_FAIL = 8,
    FUS_COPYSTART = 9,
    FUS_COPYEND = 10,
};

// One progress report of the engine. Fixed layout (552 bytes) because plug-in
// libraries receive it.
struct FileUpdateStatus {
    wchar_t fileName[256];   // relative path of the file concerned, or empty
    int32_t total;           // files in the current phase
    int32_t status;          // a FileUpdateStatusCode
    uint64_t fileSize;       // full size of the file being downloaded
    uint64_t received;       // bytes of that file on disk so far
    int32_t index;           // position in the current phase
    uint32_t reserved;       // zero; keeps totalReceived 8-byte aligned
    uint64_t totalReceived;  // all bytes downloaded by this engine so far
};
static_assert(sizeof(FileUpdateStatus) == 552, "FileUpdateStatus is 552 bytes");
static_assert(offsetof(FileUpdateStatus, total) == 512);
static_assert(offsetof(FileUpdateStatus, status) == 516);
static_assert(offsetof(FileUpdateStatus, fileSize) == 520);
static_assert(offsetof(FileUpdateStatus, received) == 528);
static_assert(offsetof(FileUpdateStatus, index) == 536);
static_assert(offsetof(FileUpdateStatus, totalReceived) == 544);

// Options handed to update plug-ins. Fixed layout (532 bytes in the 32-bit
// build) because plug-in libraries receive it.
struct PluginOptions {
    const wchar_t* pluginDir;           // plug-in folder; null or empty: none
    const wchar_t* const* searchDirs;   // folders for the plug-ins' libraries
    int32_t searchDirCount;
    int32_t silent;                     // non-zero in hidden mode
    const wchar_t* updateNotes;         // release notes; never null
    wchar_t versionName[256];           // versionName of the new version.ini
};
#if defined(__i386__)
static_assert(sizeof(PluginOptions) == 532, "PluginOptions is 532 bytes in the 32-bit build");
static_assert(offsetof(PluginOptions, versionName) == 20);
#endif

// Receives every status record; `status` is valid only during the call.
typedef void (*FileUpdateStatusCallback)(const FileUpdateStatus* status, void* userData);

class IVkUpdateAlgorithm;

// The update engine. Slot order is fixed.
class IVkAutoUpdater {
public:
    virtual ~IVkAutoUpdater() {}
    virtual void SetNewDatabasePath(const wchar_t* path, const wchar_t* unused) = 0;
    virtual void SetDirectories(const wchar_t* downloadDir, const wchar_t* installDir,
                                const wchar_t* stagingSubDir) = 0;
    virtual bool BeginUpdate(const wchar_t* databaseUrl, int removeDownloadDir,
                             const wchar_t* iniPath) = 0;
    virtual void CancelUpdate() = 0;
    virtual void SetStatusCallback(FileUpdateStatusCallback callback, void* userData) = 0;
    virtual void Shutdown() = 0;
    virtual void AddExcludedFiles(const wchar_t* const* names, int count) = 0;
    virtual void SetUpdateAlgorithm(IVkUpdateAlgorithm* algorithm) = 0;
    virtual bool CopyFromFolder(const wchar_t* srcDir, const wchar_t* dstDir) = 0;
    virtual void SetPluginOptions(const PluginOptions* options) = 0;
    virtual bool ApplyStagedUpdate(const wchar_t* srcDir, const wchar_t* dstDir,
                                   int removeSource) = 0;
};

// Creates the update engine; the caller deletes it through the interface.
IVkAutoUpdater* CreateAutoUpdater();
