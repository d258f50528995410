#include "engine/held_files.h"

#include <utility>

bool HeldFiles::Hold(const std::wstring& name, const std::wstring& path) {
    m_files.erase(name);
    velisk::UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                                FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) return false;
    m_files.emplace(name, std::move(file));
    return true;
}

HANDLE HeldFiles::Find(const std::wstring& name) const {
    const auto it = m_files.find(name);
    return it != m_files.end() ? it->second.get() : nullptr;
}
