#include "pipeline/update_run.h"

#include <algorithm>

namespace pipeline_testing {

using testing_support::ReadBytes;
using testing_support::WideToUtf8String;

UpdateRun::UpdateRun()
    : root(L"upd"), installDir(root / L"install"), downloadDir(root / L"download"), iniPath(root / L"new\\version.ini") {
    CopyTree(Fixture(L"v1/install"), installDir);
    Publish(L"v2/server/a/b", "a/b/");
    WriteIni(served.Url("a/b/"), 7);
    engine.reset(CreateAutoUpdater());
    engine->SetStatusCallback(&StatusLog::Callback, &statuses);
    engine->SetNewDatabasePath((downloadDir + L"\\ProgramConfig.zdb").c_str(), L"");
    engine->SetDirectories(downloadDir.c_str(), installDir.c_str(), L"");
}

void UpdateRun::Publish(const std::wstring& fixturePart, const std::string& prefix) {
    const std::wstring from = Fixture(fixturePart);
    for (const std::wstring& name : ListTree(from)) {
        std::wstring path = from + L"\\" + name;
        std::replace(path.begin(), path.end(), L'/', L'\\');
        served.Put(prefix + WideToUtf8String(name), ReadBytes(path));
    }
}

void UpdateRun::WriteIni(const std::wstring& url, int version) {
    testing_support::WriteUtf8(iniPath, L"[update]\r\nversion=" + std::to_wstring(version) + L"\r\nurl=" + url +
                                            L"\r\nversionName=v" + std::to_wstring(version) + L"\r\n");
}

std::wstring UpdateRun::ManifestUrl() const { return served.Url("a/b/7/ProgramConfig.zdb.zip"); }

bool UpdateRun::Run(const std::wstring& manifestUrl) {
    const std::wstring url = manifestUrl.empty() ? ManifestUrl() : manifestUrl;
    return engine->BeginUpdate(url.c_str(), keepDownloads ? 0 : 1, iniPath.c_str());
}

std::vector<std::string> UpdateRun::FileRequests() const {
    std::vector<std::string> paths;
    for (const auto& request : served.Requests()) {
        if (request.path.find("ProgramConfig.zdb.zip") != std::string::npos) continue;
        paths.push_back(request.scheme + " " + request.path);
    }
    return paths;
}

std::wstring UpdateRun::Installed(const std::wstring& name) const { return root / (L"install/" + name); }

std::wstring UpdateRun::Version7(const std::wstring& name) { return Fixture(L"v2/source/" + name); }

}  // namespace pipeline_testing
