// Implementation of file_block_reader.h. One helper thread serves the whole
// process: it is started at the first file of more than one piece and then
// waits for the next file. The buffer is a ring of one block; the helper
// reads piece after piece into it while the caller hashes what is ready, and
// never overwrites bytes the caller has not given back, so it runs up to one
// block ahead with no more memory than one block.
#include "engine/file_block_reader.h"

#include "velisk/handles.h"

namespace {

constexpr size_t kRingBytes = kFileReadBlockBytes;
// What the helper reads at once: small enough that the caller can start on
// a block soon, large enough that the hand-overs cost nothing.
constexpr size_t kPieceBytes = 512 * 1024;
static_assert(kFileReadBlockBytes % kPieceBytes == 0, "pieces never cross a block");

// One block-sized ring for the life of the process, shared by every reader.
alignas(4096) unsigned char g_ring[kRingBytes];

bool g_readAheadOffForTesting = false;

// Reads up to `wanted` bytes; fewer only when the file ends or a read fails.
size_t ReadInto(HANDLE file, unsigned char* into, size_t wanted) {
    size_t got = 0;
    while (got < wanted) {
        DWORD count = 0;
        if (!::ReadFile(file, into + got, static_cast<DWORD>(wanted - got), &count, nullptr) || count == 0) break;
        got += count;
    }
    return got;
}

unsigned char* RingAt(uint64_t offset) { return g_ring + offset % kRingBytes; }

// The helper thread and the state it shares with the caller, all under one
// lock with one condition variable for every change.
class ReadAheadThread {
public:
    // The process's helper, started at the first call; null when no thread
    // can be started (the callers then read for themselves).
    static ReadAheadThread* Instance() {
        // Never destroyed: the thread waits on this object until the process ends.
        static ReadAheadThread* const instance = [] {
            auto* helper = new ReadAheadThread;
            if (helper->StartThread()) return helper;
            delete helper;
            return static_cast<ReadAheadThread*>(nullptr);
        }();
        return instance;
    }

    // Begins reading `size` bytes of `file` ahead.
    void Begin(HANDLE file, uint64_t size) {
        Locked lock(this);
        m_file = file;
        m_size = size;
        m_filled = 0;
        m_released = 0;
        m_stop = false;
        m_ended = false;
        m_active = true;
        ::WakeAllConditionVariable(&m_changed);
    }

    // See FileBlockReader::Read.
    FileSpan Read(uint64_t offset, uint64_t blockEnd) {
        Locked lock(this);
        if (offset > m_released) {
            m_released = offset;
            ::WakeAllConditionVariable(&m_changed);
        }
        while (m_filled <= offset && !m_ended) Wait();
        if (m_filled <= offset) return {};
        // At most one piece at a time, so the caller gives room back to the
        // helper piece by piece instead of holding the whole ring.
        uint64_t end = m_filled < blockEnd ? m_filled : blockEnd;
        if (end - offset > kPieceBytes) end = offset + kPieceBytes;
        return FileSpan{RingAt(offset), static_cast<size_t>(end - offset)};
    }

    // Ends the current file and waits until the helper has let go of it.
    void End() {
        Locked lock(this);
        m_stop = true;
        ::WakeAllConditionVariable(&m_changed);
        while (!m_ended) Wait();
        m_active = false;
        m_file = nullptr;
    }

private:
    class Locked {
    public:
        explicit Locked(ReadAheadThread* owner) : m_owner(owner) { ::AcquireSRWLockExclusive(&owner->m_lock); }
        ~Locked() { ::ReleaseSRWLockExclusive(&m_owner->m_lock); }
        Locked(const Locked&) = delete;
        Locked& operator=(const Locked&) = delete;

    private:
        ReadAheadThread* m_owner;
    };

    bool StartThread() {
        m_thread.reset(::CreateThread(nullptr, 0, &ReadAheadThread::ThreadMain, this, 0, nullptr));
        return m_thread.valid();
    }

    static DWORD WINAPI ThreadMain(void* self) {
        static_cast<ReadAheadThread*>(self)->Run();
        return 0;
    }

    void Wait() { ::SleepConditionVariableSRW(&m_changed, &m_lock, INFINITE, 0); }

    // The next piece: up to the end of its block and of the size.
    size_t NextPieceBytes() const {
        const uint64_t blockEnd = (m_filled / kFileReadBlockBytes + 1) * kFileReadBlockBytes;
        const uint64_t end = blockEnd < m_size ? blockEnd : m_size;
        return end - m_filled < kPieceBytes ? static_cast<size_t>(end - m_filled) : kPieceBytes;
    }

    // Work to do: a stop, or a piece whose room in the ring the caller has given back.
    bool HasWork() const {
        if (!m_active || m_ended) return false;
        return m_stop || m_filled + NextPieceBytes() <= m_released + kRingBytes;
    }

    void Run() {
        Locked lock(this);
        for (;;) {
            while (!HasWork()) Wait();
            if (m_stop) {
                m_ended = true;
                ::WakeAllConditionVariable(&m_changed);
                continue;
            }
            const uint64_t offset = m_filled;
            const size_t wanted = NextPieceBytes();
            const HANDLE file = m_file;
            ::ReleaseSRWLockExclusive(&m_lock);
            const size_t got = ReadInto(file, RingAt(offset), wanted);
            ::AcquireSRWLockExclusive(&m_lock);
            m_filled = offset + got;
            if (got < wanted || m_filled >= m_size) m_ended = true;
            ::WakeAllConditionVariable(&m_changed);
        }
    }

    SRWLOCK m_lock = SRWLOCK_INIT;
    CONDITION_VARIABLE m_changed = CONDITION_VARIABLE_INIT;
    velisk::UniqueKernelHandle m_thread;
    HANDLE m_file = nullptr;
    uint64_t m_size = 0;
    uint64_t m_filled = 0;    // bytes read so far
    uint64_t m_released = 0;  // bytes the caller has given back
    bool m_active = false;    // a file is under way
    bool m_stop = false;      // the caller ends the file
    bool m_ended = false;     // the helper reads nothing more of this file
};

}  // namespace

FileBlockReader::FileBlockReader(HANDLE file, uint64_t size) : m_file(file) {
    if (size <= kPieceBytes || g_readAheadOffForTesting) return;
    ReadAheadThread* helper = ReadAheadThread::Instance();
    if (helper == nullptr) return;
    helper->Begin(file, size);
    m_ahead = true;
}

FileBlockReader::~FileBlockReader() {
    if (m_ahead) ReadAheadThread::Instance()->End();
}

FileSpan FileBlockReader::Read(uint64_t offset, uint64_t blockEnd) {
    if (m_ahead) return ReadAheadThread::Instance()->Read(offset, blockEnd);
    if (m_filled <= offset && !m_ended) {
        // The caller reads the rest of the block itself, at once.
        const size_t wanted = static_cast<size_t>(blockEnd - offset);
        const size_t got = ReadInto(m_file, RingAt(offset), wanted);
        m_filled = offset + got;
        m_ended = got < wanted;
    }
    if (m_filled <= offset) return {};
    const uint64_t end = m_filled < blockEnd ? m_filled : blockEnd;
    return FileSpan{RingAt(offset), static_cast<size_t>(end - offset)};
}

void SetFileReadAheadOffForTesting(bool off) { g_readAheadOffForTesting = off; }
