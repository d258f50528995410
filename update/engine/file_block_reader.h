// Sequential reading of a file in 4 MiB blocks, one block ahead of the
// caller: while the caller works on one block, a helper thread reads the next
// into the other of two buffers, so reading costs next to nothing when the
// data is in the system's cache.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

// Bytes per block.
constexpr size_t kFileReadBlockBytes = 4194304;

// One block as read: `got` is less than `wanted` when the file ended (or a
// read failed) before the block was full.
struct FileBlock {
    const unsigned char* data = nullptr;
    size_t wanted = 0;
    size_t got = 0;
};

// Reads the first `size` bytes of an open file, block after block. Files of
// more than one block are read ahead on the helper thread; a file of one
// block, or any file when the helper thread cannot be started, is read by
// the caller in Next. Blocks are never longer than what is left of `size`,
// so a file that grows meanwhile yields exactly its first `size` bytes.
// The buffers are allocated once for the life of the process and shared by
// every reader: only one FileBlockReader may exist at a time (engine worker
// thread only). The destructor waits until the helper no longer touches the
// file, so the file handle may be closed after it.
class FileBlockReader {
public:
    FileBlockReader(HANDLE file, uint64_t size);
    ~FileBlockReader();
    FileBlockReader(const FileBlockReader&) = delete;
    FileBlockReader& operator=(const FileBlockReader&) = delete;

    // The next block; the block returned by the previous call is given back
    // (its buffer may be refilled). Call it only while bytes of `size` are
    // left and no earlier block came short.
    FileBlock Next();

    // True when the blocks come from the helper thread.
    bool readsAhead() const { return m_ahead; }

private:
    HANDLE m_file;
    uint64_t m_size;
    uint64_t m_offset = 0;  // of the next block
    uint64_t m_index = 0;   // of the next block
    bool m_ahead = false;
};

// Test hook, never called by the programs: with `off` true, files are read
// by the caller even when they have more than one block.
void SetFileReadAheadOffForTesting(bool off);
