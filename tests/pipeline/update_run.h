// One update of a scratch installation against the shared test server: the
// installation starts as version 6 of the fixture, version 7 is published in
// a private served folder under a/b/, and the new version.ini points there.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "engine/auto_updater.h"
#include "net/test_server_client.h"
#include "pipeline/pipeline_fixture.h"
#include "support/test_support.h"

namespace pipeline_testing {

class UpdateRun {
public:
    UpdateRun();

    // Puts every file of the fixture folder `fixturePart` below `prefix`
    // ("x/y/") of the served folder.
    void Publish(const std::wstring& fixturePart, const std::string& prefix);
    // Writes the new version.ini with [update] url and version.
    void WriteIni(const std::wstring& url, int version);
    // The manifest archive of version 7 as published.
    std::wstring ManifestUrl() const;
    // BeginUpdate with `manifestUrl` (default: ManifestUrl()), removing the
    // download folder at the end unless `keepDownloads` is set.
    bool Run(const std::wstring& manifestUrl = L"");
    // Server paths of this run's requests for file archives (not the
    // manifest), in order, with their scheme: "https /n../a/b/7/x.zip".
    std::vector<std::string> FileRequests() const;
    // The installation's path of a manifest name.
    std::wstring Installed(const std::wstring& name) const;
    // Version 7's file of a manifest name.
    static std::wstring Version7(const std::wstring& name);

    testing_support::ScratchDir root;
    std::wstring installDir;
    std::wstring downloadDir;
    std::wstring iniPath;
    net_testing::ServedFolder served;
    StatusLog statuses;
    AutoUpdaterPtr engine;
    bool keepDownloads = false;
};

}  // namespace pipeline_testing
