// The update engine's public face: the status record and the plug-in options
// that cross into plug-in libraries, and the engine interface.
#pragma once

#include <memory>

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

// The update engine. Slot order is fixed: plug-ins built by other compilers
// call it through the slots, so slot 0 is the one deleting-destructor slot
// that such a compiler expects (a C++ virtual destructor would take two slots
// here and move every operation by one). All calls but CancelUpdate come from
// one thread at a time.
class IVkAutoUpdater {
public:
    // Destroys the engine; `flags` is ignored. Owners use AutoUpdaterPtr.
    virtual void DeleteThis(unsigned int flags) = 0;
    // Where the new manifest lies once the manifest archive is unpacked
    // (download folder + "ProgramConfig.zdb"). The second argument is unused.
    virtual void SetNewDatabasePath(const wchar_t* path, const wchar_t* unused) = 0;
    // The download (work) folder, the installation folder and the staging
    // sub-folder of the installation (null: unchanged; empty: no staging).
    // Each gets a trailing "\\" unless empty or already ending with a separator.
    virtual void SetDirectories(const wchar_t* downloadDir, const wchar_t* installDir,
                                const wchar_t* stagingSubDir) = 0;
    // One whole update from the manifest archive at `databaseUrl` and the new
    // version.ini at `iniPath`; removes the download folder at the end when
    // `removeDownloadDir` is non-zero. True when the installation (or the
    // staging folder) now holds the new version. Blocks until done.
    virtual bool BeginUpdate(const wchar_t* databaseUrl, int removeDownloadDir,
                             const wchar_t* iniPath) = 0;
    // Asks a running BeginUpdate to stop; any thread. Stays in effect for
    // the life of the object.
    virtual void CancelUpdate() = 0;
    // Every status record goes to `callback` with `userData` (null: none).
    virtual void SetStatusCallback(FileUpdateStatusCallback callback, void* userData) = 0;
    // Does nothing.
    virtual void Shutdown() = 0;
    // Names (relative to the installation) that the copy leaves alone.
    virtual void AddExcludedFiles(const wchar_t* const* names, int count) = 0;
    // Uses `algorithm` instead of a manifest checker of its own; it is
    // released at the end of the next BeginUpdate.
    virtual void SetUpdateAlgorithm(IVkUpdateAlgorithm* algorithm) = 0;
    // Copies every file below `srcDir` into `dstDir` with backup and
    // rollback; removes `srcDir` afterwards when `removeSource` is non-zero
    // (also after a failure). True when every file was copied.
    virtual bool CopyFromFolder(const wchar_t* srcDir, const wchar_t* dstDir, int removeSource) = 0;
    // Keeps a deep copy of `options` for plug-ins.
    virtual void SetPluginOptions(const PluginOptions* options) = 0;
    // Moves a staged update from `srcDir` into `dstDir` (CopyFromFolder) and
    // then deletes the files that only the installed manifest lists. True
    // when the copy succeeded.
    virtual bool ApplyStagedUpdate(const wchar_t* srcDir, const wchar_t* dstDir,
                                   int removeSource) = 0;

protected:
    ~IVkAutoUpdater() = default;  // DeleteThis destroys
};

// Creates the update engine (null when out of memory); the caller destroys
// it with DeleteThis, or owns it through AutoUpdaterPtr.
IVkAutoUpdater* CreateAutoUpdater();

struct AutoUpdaterDeleter {
    void operator()(IVkAutoUpdater* engine) const {
        if (engine != nullptr) engine->DeleteThis(1);
    }
};
using AutoUpdaterPtr = std::unique_ptr<IVkAutoUpdater, AutoUpdaterDeleter>;
