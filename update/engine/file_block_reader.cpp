// Implementation of file_block_reader.h. One helper thread serves the whole
// process: it is started at the first file of more than one block and then
// waits for the next file. Blocks alternate between two buffers; the helper
// fills block n + 1 while the caller works on block n, and never runs more
// than one block ahead.
#include "engine/file_block_reader.h"

#include "velisk/handles.h"

namespace {

// Two buffers for the life of the process, shared by every reader.
unsigned char g_buffers[2][kFileReadBlockBytes];

bool g_readAheadOffForTesting = false;

// Reads up to `wanted` bytes; fewer only when the file ends or a read fails.
size_t ReadBlockInto(HANDLE file, unsigned char* into, size_t wanted) {
    size_t got = 0;
    while (got < wanted) {
        DWORD count = 0;
        if (!::ReadFile(file, into + got, static_cast<DWORD>(wanted - got), &count, nullptr) || count == 0) break;
        got += count;
    }
    return got;
}

size_t BlockWanted(uint64_t size, uint64_t offset) {
    const uint64_t left = size - offset;
    return left < kFileReadBlockBytes ? static_cast<size_t>(left) : kFileReadBlockBytes;
}

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
        m_read = 0;
        m_given = 0;
        m_stop = false;
        m_done = false;
        m_active = true;
        ::WakeAllConditionVariable(&m_changed);
    }

    // Waits for block `index` (all earlier ones handed back) and returns it.
    FileBlock Take(uint64_t index) {
        Locked lock(this);
        m_given = index;  // every earlier block is given back
        ::WakeAllConditionVariable(&m_changed);
        while (m_read <= index && !m_done) Wait();
        if (m_read <= index) return FileBlock{g_buffers[index % 2], 0, 0};  // nothing more will come
        const Slot& slot = m_slots[index % 2];
        return FileBlock{g_buffers[index % 2], slot.wanted, slot.got};
    }

    // Ends the current file and waits until the helper has let go of it.
    void End() {
        Locked lock(this);
        m_stop = true;
        ::WakeAllConditionVariable(&m_changed);
        while (!m_done) Wait();
        m_active = false;
        m_file = nullptr;
    }

private:
    struct Slot {
        size_t wanted = 0;
        size_t got = 0;
    };

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

    // Work to do: a file under way whose next block has a free buffer, or a stop.
    bool HasWork() const { return m_active && !m_done && (m_stop || m_read < m_given + 2); }

    void Run() {
        Locked lock(this);
        for (;;) {
            while (!HasWork()) Wait();
            if (m_stop) {
                m_done = true;
                ::WakeAllConditionVariable(&m_changed);
                continue;
            }
            const uint64_t index = m_read;
            const uint64_t offset = index * kFileReadBlockBytes;
            const size_t wanted = BlockWanted(m_size, offset);
            const HANDLE file = m_file;
            ::ReleaseSRWLockExclusive(&m_lock);
            const size_t got = ReadBlockInto(file, g_buffers[index % 2], wanted);
            ::AcquireSRWLockExclusive(&m_lock);
            m_slots[index % 2] = Slot{wanted, got};
            m_read = index + 1;
            if (got < wanted || offset + got >= m_size) m_done = true;
            ::WakeAllConditionVariable(&m_changed);
        }
    }

    SRWLOCK m_lock = SRWLOCK_INIT;
    CONDITION_VARIABLE m_changed = CONDITION_VARIABLE_INIT;
    velisk::UniqueKernelHandle m_thread;
    HANDLE m_file = nullptr;
    uint64_t m_size = 0;
    uint64_t m_read = 0;   // blocks read so far
    uint64_t m_given = 0;  // blocks the caller has given back
    Slot m_slots[2];
    bool m_active = false;  // a file is under way
    bool m_stop = false;    // the caller ends the file early
    bool m_done = false;    // the helper reads nothing more of this file
};

}  // namespace

FileBlockReader::FileBlockReader(HANDLE file, uint64_t size) : m_file(file), m_size(size) {
    if (size <= kFileReadBlockBytes || g_readAheadOffForTesting) return;
    ReadAheadThread* helper = ReadAheadThread::Instance();
    if (helper == nullptr) return;
    helper->Begin(file, size);
    m_ahead = true;
}

FileBlockReader::~FileBlockReader() {
    if (m_ahead) ReadAheadThread::Instance()->End();
}

FileBlock FileBlockReader::Next() {
    FileBlock block;
    if (m_ahead) {
        block = ReadAheadThread::Instance()->Take(m_index);
    } else {
        block.data = g_buffers[0];
        block.wanted = BlockWanted(m_size, m_offset);
        block.got = ReadBlockInto(m_file, g_buffers[0], block.wanted);
    }
    ++m_index;
    m_offset += block.got;
    return block;
}

void SetFileReadAheadOffForTesting(bool off) { g_readAheadOffForTesting = off; }
