// The engine's view of a manifest: which files a version lists, and whether
// an installed or downloaded file is the listed one. Slot order is fixed, with
// one deleting-destructor slot first, as for the engine's own interface.
#pragma once

#include <cstdint>

// One name in the array that GetFileList hands out (NUL-terminated).
typedef wchar_t ManifestNameSlot[256];
// One download base in the array that GetServerList hands out.
typedef wchar_t ServerUrlSlot[258];

class IVkUpdateAlgorithm {
public:
    // Destroys the object; `flags` is ignored.
    virtual void DeleteThis(unsigned int flags) = 0;

    // Makes the manifest at `path` the current one (replacing any earlier
    // connection). Always returns true; a file that cannot be read shows as
    // a manifest without rows.
    virtual bool OpenDatabase(const wchar_t* path) = 0;

    // Reads the current manifest's file list. `*count` (optional) receives
    // the number of files; when it is at least 1, `*names` receives a new
    // array of that many slots, to be returned through FreeFileList. With no
    // files (or a manifest that cannot be trusted) the count is 0 and
    // `*names` is left alone. Returns true when files were listed.
    virtual bool GetFileList(ManifestNameSlot** names, int* count) = 0;
    virtual void FreeFileList(ManifestNameSlot* names) = 0;

    // Reads the download servers of the current manifest, each as
    // server + "/" + version + "/". Same ownership rules as GetFileList.
    virtual bool GetServerList(ServerUrlSlot** servers, int* count) = 0;
    virtual void FreeServerList(ServerUrlSlot* servers) = 0;

    // True when the installed file `name` (a manifest name) must be updated:
    // it is not in the latest file list, missing, or its digest differs.
    virtual bool CheckFile(const wchar_t* name) = 0;

    // Destroys the object.
    virtual void Release() = 0;

    // True when the downloaded file `name` is accepted: it matches the
    // latest file list, or the list does not hold that name.
    virtual bool VerifyDownloadedFile(const wchar_t* name) = 0;

    // Sets the folder (ending with a separator) that holds downloaded files.
    virtual void SetDownloadDir(const wchar_t* dir) = 0;

protected:
    ~IVkUpdateAlgorithm() = default;  // DeleteThis or Release destroys
};
