// Sequential reading of a file in 4 MiB blocks, ahead of the caller: while
// the caller works on the bytes already read, a helper thread reads the next
// ones (in 512 KiB pieces, up to one block ahead) into a ring buffer of one
// block, so reading costs next to nothing when the data is in the system's
// cache.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

// Bytes per block.
constexpr size_t kFileReadBlockBytes = 4194304;

// Bytes of the file that are ready, all inside one block.
struct FileSpan {
    const unsigned char* data = nullptr;
    size_t size = 0;
};

// Reads the first `size` bytes of an open file, front to back. Files of more
// than one piece (512 KiB) are read ahead on the helper thread; smaller ones,
// or any file when the helper thread cannot be started, are read by the
// caller in Read, a block at a time. Nothing past `size` is read, so a file
// that grows meanwhile yields exactly its first `size` bytes; after the first
// read that comes short (the file ended or a read failed) nothing more is read.
// The buffer is allocated once for the life of the process and shared by
// every reader: only one FileBlockReader may exist at a time (engine worker
// thread only). The destructor waits until the helper no longer touches the
// file, so the file handle may be closed after it.
class FileBlockReader {
public:
    FileBlockReader(HANDLE file, uint64_t size);
    ~FileBlockReader();
    FileBlockReader(const FileBlockReader&) = delete;
    FileBlockReader& operator=(const FileBlockReader&) = delete;

    // The bytes from `offset` on that are ready, at most up to `blockEnd`
    // (the end of offset's block, or `size` when it comes first); waits until
    // there are some. Bytes before `offset` are given back (their buffer may
    // be refilled). An empty span: the file ended short before `offset`'s
    // bytes came. Offsets go strictly front to back.
    FileSpan Read(uint64_t offset, uint64_t blockEnd);

private:
    HANDLE m_file;
    uint64_t m_filled = 0;  // bytes read by the caller itself
    bool m_ended = false;   // the caller's own read came short
    bool m_ahead = false;
};

// Test hook, never called by the programs: with `off` true, files are read
// by the caller even when they have more than one piece.
void SetFileReadAheadOffForTesting(bool off);
