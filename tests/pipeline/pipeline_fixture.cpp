#include "pipeline/pipeline_fixture.h"

#include <boost/filesystem.hpp>

#include <algorithm>
#include <sstream>

#include "support/test_support.h"

namespace fs = boost::filesystem;

namespace pipeline_testing {
namespace {

bool CanOpenExclusively(const std::wstring& path) {
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    ::CloseHandle(file);
    return true;
}

}  // namespace

FileHolder::FileHolder(const std::wstring& path)
    : m_process(L"\"" + testing_support::BinFile(L"file_holder.exe") + L"\" \"" + path + L"\"") {
    m_holding = m_process.started() && testing_support::WaitFor([&] { return !CanOpenExclusively(path); });
}

void FileHolder::End() {
    m_process.Terminate();
    m_process.Wait(10000);
}

std::wstring Fixture(const std::wstring& part) { return testing_support::WinePath(VELISK_PIPELINE_FIXTURE, part); }

bool CopyTree(const std::wstring& from, const std::wstring& to) {
    boost::system::error_code error;
    fs::create_directories(fs::path(to), error);
    fs::copy(fs::path(from), fs::path(to), fs::copy_options::recursive | fs::copy_options::overwrite_existing,
             error);
    return !error;
}

std::vector<std::wstring> ListTree(const std::wstring& root) {
    std::vector<std::wstring> names;
    boost::system::error_code error;
    for (fs::recursive_directory_iterator it(fs::path(root), error), end; !error && it != end; it.increment(error)) {
        if (!fs::is_regular_file(it->status())) continue;
        std::wstring name = it->path().wstring().substr(root.size() + 1);
        std::replace(name.begin(), name.end(), L'\\', L'/');
        names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool SameBytes(const std::wstring& a, const std::wstring& b) {
    return testing_support::FileExists(a) && testing_support::FileExists(b) &&
           testing_support::ReadBytes(a) == testing_support::ReadBytes(b);
}

std::string Describe(const FileUpdateStatus& r) {
    std::ostringstream text;
    text << r.status << ' ' << r.index << ' ' << r.total << ' ' << r.fileSize << ' ' << r.received << ' '
         << r.totalReceived << ' ' << testing_support::WideToUtf8String(r.fileName);
    return text.str();
}

void StatusLog::Callback(const FileUpdateStatus* record, void* self) {
    auto* log = static_cast<StatusLog*>(self);
    {
        std::lock_guard<std::mutex> lock(log->m_mutex);
        log->m_records.push_back(*record);
    }
    if (log->onStatus) log->onStatus(*record);
}

std::vector<FileUpdateStatus> StatusLog::records() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_records;
}

std::vector<int> StatusLog::codes() const {
    std::vector<int> codes;
    for (const auto& r : records()) codes.push_back(r.status);
    return codes;
}

std::vector<std::string> StatusLog::lines() const {
    std::vector<std::string> lines;
    for (const auto& r : records()) lines.push_back(Describe(r));
    return lines;
}

std::vector<int> StatusLog::foldedCodes() const {
    std::vector<int> folded;
    for (int code : codes()) {
        if (code == FUS_DOWNLOADING && !folded.empty() && folded.back() == FUS_DOWNLOADING) continue;
        folded.push_back(code);
    }
    return folded;
}

}  // namespace pipeline_testing
