#include "uninstaller_path.h"

#include <windows.h>

#include <new>

#include "path_rules.h"
#include "registry_values.h"

namespace pellix {

namespace {

INIT_ONCE g_firstRead = INIT_ONCE_STATIC_INIT;
// The cached text is read and replaced from several shell threads; the lock
// keeps a reader from copying a string another thread is replacing.
SRWLOCK g_cacheLock = SRWLOCK_INIT;
std::wstring g_cachedPath;

class SharedLock {
public:
    explicit SharedLock(SRWLOCK* lock) : m_lock(lock) { ::AcquireSRWLockShared(m_lock); }
    ~SharedLock() { ::ReleaseSRWLockShared(m_lock); }
    SharedLock(const SharedLock&) = delete;
    SharedLock& operator=(const SharedLock&) = delete;

private:
    SRWLOCK* m_lock;
};

class ExclusiveLock {
public:
    explicit ExclusiveLock(SRWLOCK* lock) : m_lock(lock) { ::AcquireSRWLockExclusive(m_lock); }
    ~ExclusiveLock() { ::ReleaseSRWLockExclusive(m_lock); }
    ExclusiveLock(const ExclusiveLock&) = delete;
    ExclusiveLock& operator=(const ExclusiveLock&) = delete;

private:
    SRWLOCK* m_lock;
};

void StoreCachedPath(std::wstring path) {
    ExclusiveLock guard(&g_cacheLock);
    g_cachedPath.swap(path);
}

BOOL CALLBACK ReadFirstTime(PINIT_ONCE, PVOID, PVOID*) {
    try {
        StoreCachedPath(ReadLauncherPath());
    } catch (const std::bad_alloc&) {
        // The cache stays empty; the next use reads the registry again.
    }
    return TRUE;
}

}  // namespace

std::wstring CurrentUninstallerPath() {
    ::InitOnceExecuteOnce(&g_firstRead, ReadFirstTime, nullptr, nullptr);
    std::wstring path;
    {
        SharedLock guard(&g_cacheLock);
        path = g_cachedPath;
    }
    if (PathExists(path)) return path;
    path = ReadLauncherPath();
    StoreCachedPath(path);
    return path;
}

}  // namespace pellix
