// A file's archive holds exactly one entry, the file's bare name: any other
// entry makes the unpacking fail before anything is written.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/zip_extract.h"
#include "pipeline/pipeline_fixture.h"
#include "signing/signing_fixture.h"
#include "support/test_support.h"

namespace {

using pipeline_testing::ListTree;
using signing_testing::SigningFixture;
using testing_support::ReadBytes;
using testing_support::ScratchDir;

TEST(NamedArchive, AnArchiveWithAnyOtherEntryWritesNothing) {
    const std::vector<const wchar_t*> refused = {
        L"another_name",         // x.dll, then other.txt
        L"climbing_name",        // x.dll, then ../climbed.txt
        L"manifest_name",        // x.dll, then ProgramConfig.zdb
        L"manifest_name_first",  // ProgramConfig.zdb, then x.dll
        L"twice",                // x.dll twice
        L"folder_and_file",      // folder entry sub/, then x.dll
        L"path_of_the_name",     // bin/x.dll instead of the bare name
        L"other_case",           // X.DLL
    };
    for (const wchar_t* name : refused) {
        ScratchDir root(L"narc");
        const std::wstring folder = root / L"download\\bin";
        ASSERT_TRUE(::CreateDirectoryW((root / L"download").c_str(), nullptr));
        ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
        const std::wstring archive = SigningFixture(L"archives/" + std::wstring(name) + L".zip");
        EXPECT_FALSE(ExtractNamedFiles(folder, archive, {L"x.dll"})) << testing_support::WideToUtf8String(name);
        EXPECT_TRUE(ListTree(root.path()).empty()) << testing_support::WideToUtf8String(name) << " wrote "
                                                   << ListTree(root.path()).size() << " file(s)";
    }
}

TEST(NamedArchive, TheFileAloneUnderItsBareNameIsUnpacked) {
    ScratchDir root(L"narc");
    ASSERT_TRUE(ExtractNamedFiles(root.path(), SigningFixture(L"archives/only_the_file.zip"), {L"x.dll"}));
    EXPECT_EQ(ListTree(root.path()), std::vector<std::wstring>{L"x.dll"});
    EXPECT_EQ(ReadBytes(root / L"x.dll"), ReadBytes(pipeline_testing::Fixture(L"v2/source/bin/x.dll")));
}

TEST(NamedArchive, TheManifestArchiveMayHoldTheManifestAndItsSignatureInEitherOrder) {
    const std::vector<std::wstring> names = {L"ProgramConfig.zdb", L"ProgramConfig.zdb.sig"};
    for (const wchar_t* name : {L"first", L"signature_first", L"unsigned"}) {
        ScratchDir root(L"narc");
        EXPECT_TRUE(ExtractNamedFiles(root.path(), SigningFixture(L"manifests/" + std::wstring(name) + L".zip"), names))
            << testing_support::WideToUtf8String(name);
    }
    ScratchDir root(L"narc");
    EXPECT_FALSE(ExtractNamedFiles(root.path(), SigningFixture(L"manifests/extra_entry.zip"), names));
    EXPECT_TRUE(ListTree(root.path()).empty());
}

TEST(NamedArchive, AMissingArchiveFails) {
    ScratchDir root(L"narc");
    EXPECT_FALSE(ExtractNamedFiles(root.path(), root / L"none.zip", {L"x.dll"}));
}

}  // namespace
