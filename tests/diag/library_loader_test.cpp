// LoadLibraryWithDependencies in a fresh process per case (loader_probe.exe)
// with the fixture libraries of tools/loader_fixtures: loader_dep.dll answers
// marker 1 from a fixture folder and marker 2 as the decoy in the program
// folder, which is the first place of the system's search path.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <cwctype>
#include <map>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace {

using namespace testing_support;

using ProbeResult = std::map<std::string, std::wstring>;

std::wstring Lower(std::wstring text) {
    std::transform(text.begin(), text.end(), text.begin(), [](wchar_t c) { return std::towlower(c); });
    return text;
}

std::wstring Fixture(const std::wstring& relative) { return BinFile(L"loader_fixtures\\" + relative); }

void CopyInto(const std::wstring& dir, const std::vector<std::wstring>& fixtures) {
    for (const auto& f : fixtures) {
        const std::wstring name = f.substr(f.find_last_of(L'\\') + 1);
        ASSERT_TRUE(::CopyFileW(Fixture(f).c_str(), (dir + L"\\" + name).c_str(), FALSE)) << WideToUtf8String(f);
    }
}

// Runs loader_probe.exe with `arguments`; an empty result when it did not end
// normally.
ProbeResult RunLoaderProbe(const std::wstring& arguments) {
    ScratchDir out(L"ldo");
    const std::wstring resultFile = out / L"probe.result";
    const ProcessResult run =
        RunProcess(L"\"" + BinFile(L"loader_probe.exe") + L"\" --result \"" + resultFile + L"\" " + arguments);
    ProbeResult result;
    if (!run.finished || run.exitCode != 0) return result;
    const std::wstring text = Utf8ToWide(ReadBytes(resultFile));
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find(L'\n', pos);
        if (end == std::wstring::npos) end = text.size();
        const std::wstring line = text.substr(pos, end - pos);
        const size_t eq = line.find(L'=');
        if (eq != std::wstring::npos) result[WideToUtf8String(line.substr(0, eq))] = line.substr(eq + 1);
        pos = end + 1;
    }
    return result;
}

std::wstring Quoted(const std::wstring& text) { return L"\"" + text + L"\""; }

struct Expectation {
    const wchar_t* handle;
    const wchar_t* marker;
    std::wstring depPath;  // where loader_dep.dll was loaded from (lower case compare)
};

void ExpectProbe(const ProbeResult& r, const Expectation& e) {
    ASSERT_FALSE(r.empty()) << "the probe did not end normally";
    EXPECT_EQ(r.at("handle"), e.handle);
    EXPECT_EQ(r.at("marker"), e.marker);
    EXPECT_EQ(Lower(r.at("loader_dep.dll")), Lower(e.depPath));
}

TEST(LibraryLoader, LoadsDependenciesFromTheLibrarysOwnFolderBeforeTheSearchPath) {
    ScratchDir x(L"ldx");
    CopyInto(x.path(), {L"own\\loader_top.dll", L"own\\loader_dep.dll", L"own\\loader_chain.dll"});
    std::wstring forward = x.path();
    std::replace(forward.begin(), forward.end(), L'\\', L'/');
    const std::wstring decoy = BinFile(L"loader_dep.dll");
    const std::wstring own = x / L"loader_dep.dll";

    const struct {
        const char* name;
        std::wstring arguments;
        Expectation expected;
    } cases[] = {
        {"plain LoadLibraryW takes the decoy from the search path", L"--plain " + Quoted(x / L"loader_top.dll"),
         {L"1", L"2", decoy}},
        {"the dependency in the library's folder wins", Quoted(x / L"loader_top.dll"), {L"1", L"1", own}},
        {"dependencies of dependencies come from their folder too", Quoted(x / L"loader_chain.dll"),
         {L"1", L"1", own}},
        {"a path with forward slashes", Quoted(forward + L"/loader_top.dll"), {L"1", L"1", own}},
        {"a dependency already in the process is not touched",
         L"--preload loader_dep.dll " + Quoted(x / L"loader_top.dll"), {L"1", L"2", decoy}},
        {"a bare name resolves against the current folder only",
         L"--cwd " + Quoted(x.path()) + L" loader_top.dll", {L"1", L"1", own}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ExpectProbe(RunLoaderProbe(c.arguments), c.expected);
    }
}

void ClearDllFlag(const std::wstring& path) {
    std::string image = ReadBytes(path);
    ASSERT_GT(image.size(), 0x100u);
    const uint32_t nt = *reinterpret_cast<const uint32_t*>(image.data() + 60);
    uint16_t characteristics;
    std::memcpy(&characteristics, image.data() + nt + 4 + 18, 2);
    characteristics &= static_cast<uint16_t>(~0x2000);
    std::memcpy(image.data() + nt + 4 + 18, &characteristics, 2);
    ASSERT_TRUE(WriteBytes(path, image));
}

TEST(LibraryLoader, PreloadsNothingForFilesThatAreNotDllImagesOrDoNotExist) {
    ScratchDir noDll(L"ldn");
    CopyInto(noDll.path(), {L"own\\loader_top.dll", L"own\\loader_dep.dll"});
    ClearDllFlag(noDll / L"loader_top.dll");
    ScratchDir noMz(L"ldm");
    CopyInto(noMz.path(), {L"own\\loader_dep.dll"});
    ASSERT_TRUE(WriteBytes(noMz / L"loader_top.dll", "this is not an image"));
    ScratchDir empty(L"lde");

    {
        SCOPED_TRACE("no DLL flag: the final load alone decides, the own-folder copy stays unused");
        const ProbeResult r = RunLoaderProbe(L"--no-call " + Quoted(noDll / L"loader_top.dll"));
        ASSERT_FALSE(r.empty());
        EXPECT_NE(Lower(r.at("loader_dep.dll")), Lower(noDll / L"loader_dep.dll"));
    }
    const struct {
        const char* name;
        std::wstring arguments;
    } cases[] = {
        {"no MZ signature", Quoted(noMz / L"loader_top.dll")},
        {"a missing file", Quoted(empty / L"loader_top.dll")},
        {"a bare name missing in the current folder, though on the search path",
         L"--cwd " + Quoted(empty.path()) + L" loader_dep.dll"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ExpectProbe(RunLoaderProbe(c.arguments), {L"0", L"-", L""});
    }
}

TEST(LibraryLoader, SearchFoldersServeOnlyTheTopLibrarysDependencies) {
    ScratchDir top(L"ldt");
    CopyInto(top.path(), {L"own\\loader_top.dll"});
    ScratchDir chain(L"ldc");
    CopyInto(chain.path(), {L"own\\loader_chain.dll"});
    ScratchDir deps(L"ldd");
    CopyInto(deps.path(), {L"own\\loader_dep.dll", L"own\\loader_top.dll"});
    ScratchDir topOnly(L"ldo");
    CopyInto(topOnly.path(), {L"own\\loader_top.dll"});
    ScratchDir empty(L"lde");
    const std::wstring decoy = BinFile(L"loader_dep.dll");
    // An empty current folder, so the bare-name attempt finds nothing.
    const std::wstring inEmpty = L"--cwd " + Quoted(empty.path()) + L" ";

    const struct {
        const char* name;
        std::wstring arguments;
        Expectation expected;
    } cases[] = {
        {"without folders the decoy on the search path serves", inEmpty + Quoted(top / L"loader_top.dll"),
         {L"1", L"2", decoy}},
        {"the folders are tried in order until one has the file",
         inEmpty + L"--folder " + Quoted(empty.path()) + L" --folder " + Quoted(deps.path()) + L" " +
             Quoted(top / L"loader_top.dll"),
         {L"1", L"1", deps / L"loader_dep.dll"}},
        {"a dependency found in a folder does not get the folders for its own dependencies",
         inEmpty + L"--folder " + Quoted(topOnly.path()) + L" --folder " + Quoted(deps.path()) + L" " +
             Quoted(chain / L"loader_chain.dll"),
         {L"1", L"2", decoy}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ExpectProbe(RunLoaderProbe(c.arguments), c.expected);
    }
}

TEST(LibraryLoader, DependencyCycleEndsTheWalk) {
    ScratchDir cycle(L"ldy");
    CopyInto(cycle.path(), {L"cycle\\loader_cycle_a.dll", L"cycle\\loader_cycle_b.dll"});
    // The system's loader finds the other half of the cycle in the current folder.
    const ProbeResult inFolder =
        RunLoaderProbe(L"--cwd " + Quoted(cycle.path()) + L" " + Quoted(cycle / L"loader_cycle_a.dll"));
    ASSERT_FALSE(inFolder.empty()) << "the walk did not end";
    EXPECT_EQ(inFolder.at("handle"), L"1");
    EXPECT_EQ(Lower(inFolder.at("loader_cycle_a.dll")), Lower(cycle / L"loader_cycle_a.dll"));
    EXPECT_EQ(Lower(inFolder.at("loader_cycle_b.dll")), Lower(cycle / L"loader_cycle_b.dll"));
    // From elsewhere the walk still ends; whether the final load succeeds is
    // the system loader's matter.
    EXPECT_FALSE(RunLoaderProbe(Quoted(cycle / L"loader_cycle_b.dll")).empty()) << "the walk did not end";
}

}  // namespace
