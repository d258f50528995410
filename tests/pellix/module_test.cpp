// The module's entry points, its class factory and the command's remaining
// interface slots, called the way the shell and COM call them.
#include <gtest/gtest.h>

#include <atomic>

#include "pellix/pellix_fixture.h"

namespace pellix_test {
namespace {

using velisk::ComPtr;

class ModuleTest : public PellixFixture {};

// A pointer value no call may leave behind.
void* const kUntouched = reinterpret_cast<void*>(static_cast<uintptr_t>(0x5A5A5A5A));

TEST_F(ModuleTest, ClassObjectIsRefusedWhileACommandLivesAndOfferedAgainAfterItsRelease) {
    EXPECT_EQ(m_module->CanUnloadNow(), S_OK);
    ComPtr<IExplorerCommand> command = m_module->CreateCommand();
    ASSERT_TRUE(command);
    EXPECT_EQ(m_module->CanUnloadNow(), S_FALSE);

    void* out = kUntouched;
    EXPECT_EQ(m_module->GetClassObject(kNymCommandClsid, IID_IClassFactory, &out), E_NOTIMPL);
    EXPECT_EQ(out, kUntouched);

    // A second reference keeps the object, and so the refusal, alive.
    ComPtr<IObjectWithSite> withSite;
    ASSERT_EQ(command.As(&withSite), S_OK);
    command.reset();
    EXPECT_EQ(m_module->CanUnloadNow(), S_FALSE);
    withSite.reset();
    EXPECT_EQ(m_module->CanUnloadNow(), S_OK);

    ComPtr<IClassFactory> factory;
    EXPECT_EQ(m_module->GetClassObject(kNymCommandClsid, IID_IClassFactory, factory.receiveVoid()), S_OK);
    EXPECT_TRUE(factory);
    ComPtr<IUnknown> unknown;
    EXPECT_EQ(m_module->GetClassObject(kNymCommandClsid, IID_IUnknown, unknown.receiveVoid()), S_OK);
    EXPECT_TRUE(unknown);
}

TEST_F(ModuleTest, ServerLocksKeepTheModuleAndUnbalancedUnlocksDoNotWrapTheCount) {
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(m_module->GetClassObject(kNymCommandClsid, IID_IClassFactory, factory.receiveVoid()), S_OK);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    EXPECT_EQ(m_module->CanUnloadNow(), S_FALSE);
    void* out = kUntouched;
    EXPECT_EQ(m_module->GetClassObject(kNymCommandClsid, IID_IClassFactory, &out), E_NOTIMPL);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    EXPECT_EQ(m_module->CanUnloadNow(), S_OK);

    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    EXPECT_EQ(m_module->CanUnloadNow(), S_OK);
    ComPtr<IClassFactory> again;
    EXPECT_EQ(m_module->GetClassObject(kNymCommandClsid, IID_IClassFactory, again.receiveVoid()), S_OK);
}

TEST_F(ModuleTest, FactoryRefusesAggregationAndInterfacesTheCommandLacks) {
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(m_module->GetClassObject(kNymCommandClsid, IID_IClassFactory, factory.receiveVoid()), S_OK);
    ComPtr<IUnknown> outer;
    ASSERT_EQ(factory->QueryInterface(IID_IUnknown, outer.receiveVoid()), S_OK);

    void* out = kUntouched;
    EXPECT_EQ(factory->CreateInstance(outer.get(), IID_IUnknown, &out), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(out, nullptr);
    out = kUntouched;
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IShellItem, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(m_module->CanUnloadNow(), S_OK) << "a refused creation left an object behind";

    for (const IID* iid : {&IID_IUnknown, &IID_IExplorerCommand, &IID_IObjectWithSite, &IID_IEnumExplorerCommand}) {
        ComPtr<IUnknown> object;
        EXPECT_EQ(factory->CreateInstance(nullptr, *iid, object.receiveVoid()), S_OK);
        EXPECT_TRUE(object);
    }
}

TEST_F(ModuleTest, OtherClassIdsAreNotAvailable) {
    void* out = kUntouched;
    EXPECT_EQ(m_module->GetClassObject(CLSID_ShellLink, IID_IClassFactory, &out), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(out, nullptr);
}

TEST_F(ModuleTest, ActivationFactoryIsRefusedForEveryId) {
    HMODULE combase = ::LoadLibraryW(L"combase.dll");
    ASSERT_NE(combase, nullptr);
    using CreateFn = HRESULT(WINAPI*)(LPCWSTR, UINT32, HSTRING*);
    using DeleteFn = HRESULT(WINAPI*)(HSTRING);
    auto create = reinterpret_cast<CreateFn>(reinterpret_cast<void*>(::GetProcAddress(combase, "WindowsCreateString")));
    auto destroy = reinterpret_cast<DeleteFn>(reinterpret_cast<void*>(::GetProcAddress(combase, "WindowsDeleteString")));
    ASSERT_TRUE(create && destroy);

    struct Case {
        const char* name;
        std::wstring id;
        HRESULT expected;
    };
    const Case cases[] = {
        {"empty id", L"", E_INVALIDARG},
        {"id with an embedded NUL", std::wstring(L"Pellix.Nym\0Command", 18), E_INVALIDARG},
        {"id ending in a NUL", std::wstring(L"Pellix\0", 7), E_INVALIDARG},
        {"the command's name", L"Pellix.NymCommand", CLASS_E_CLASSNOTAVAILABLE},
        {"a system class", L"Windows.Foundation.Uri", CLASS_E_CLASSNOTAVAILABLE},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        HSTRING id = nullptr;
        ASSERT_EQ(create(c.id.data(), static_cast<UINT32>(c.id.size()), &id), S_OK);
        auto* factory = static_cast<IActivationFactory*>(kUntouched);
        EXPECT_EQ(m_module->GetActivationFactory(id, &factory), c.expected);
        EXPECT_EQ(factory, nullptr);
        destroy(id);
    }
}

TEST_F(ModuleTest, CommandHasNoToolTipNoFlagsAndNoSubCommands) {
    ComPtr<IExplorerCommand> command = m_module->CreateCommand();
    ASSERT_TRUE(command);
    LPWSTR tip = static_cast<LPWSTR>(kUntouched);
    EXPECT_EQ(command->GetToolTip(nullptr, &tip), E_NOTIMPL);
    EXPECT_EQ(tip, nullptr);
    GUID name = IID_IUnknown;
    EXPECT_EQ(command->GetCanonicalName(&name), S_OK);
    EXPECT_EQ(name, GUID_NULL);
    EXPCMDFLAGS flags = ECF_HASSUBCOMMANDS;
    EXPECT_EQ(command->GetFlags(&flags), S_OK);
    EXPECT_EQ(flags, static_cast<EXPCMDFLAGS>(ECF_DEFAULT));
    auto* sub = static_cast<IEnumExplorerCommand*>(kUntouched);
    EXPECT_EQ(command->EnumSubCommands(&sub), E_NOTIMPL);
    EXPECT_EQ(sub, nullptr);

    ComPtr<IEnumExplorerCommand> commands;
    ASSERT_EQ(command.As(&commands), S_OK);
    IExplorerCommand* next[2] = {command.get(), command.get()};
    ULONG fetched = 7;
    EXPECT_EQ(commands->Next(2, next, &fetched), S_FALSE) << "an empty enumeration must end a Next loop";
    EXPECT_EQ(fetched, 0u);
    EXPECT_EQ(next[0], nullptr);
    EXPECT_EQ(commands->Next(1, next, nullptr), S_FALSE);
    EXPECT_EQ(commands->Skip(1), E_NOTIMPL);
    EXPECT_EQ(commands->Reset(), S_OK);
    auto* copy = static_cast<IEnumExplorerCommand*>(kUntouched);
    EXPECT_EQ(commands->Clone(&copy), E_NOTIMPL);
    EXPECT_EQ(copy, nullptr);
}

// A site that counts its references.
class CountingSite final : public IServiceProvider {
public:
    IFACEMETHODIMP QueryInterface(REFIID riid, void** out) override {
        if (riid == IID_IUnknown || riid == IID_IServiceProvider) {
            *out = static_cast<IServiceProvider*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    IFACEMETHODIMP_(ULONG) AddRef() override { return ++refs; }
    IFACEMETHODIMP_(ULONG) Release() override { return --refs; }
    IFACEMETHODIMP QueryService(REFGUID, REFIID, void** out) override {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    std::atomic<ULONG> refs{1};
};

TEST_F(ModuleTest, SiteIsKeptWithOneReferenceAndAnsweredThroughGetSite) {
    ComPtr<IExplorerCommand> command = m_module->CreateCommand();
    ASSERT_TRUE(command);
    ComPtr<IObjectWithSite> withSite;
    ASSERT_EQ(command.As(&withSite), S_OK);

    void* out = kUntouched;
    EXPECT_TRUE(FAILED(withSite->GetSite(IID_IUnknown, &out))) << "no site was set";
    EXPECT_EQ(out, nullptr);

    CountingSite first;
    CountingSite second;
    EXPECT_EQ(withSite->SetSite(&first), S_OK);
    EXPECT_EQ(first.refs, 2u);
    ComPtr<IServiceProvider> provider;
    EXPECT_EQ(withSite->GetSite(IID_IServiceProvider, provider.receiveVoid()), S_OK);
    EXPECT_EQ(provider.get(), static_cast<IServiceProvider*>(&first));
    provider.reset();
    out = kUntouched;
    EXPECT_EQ(withSite->GetSite(IID_IShellItem, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);

    EXPECT_EQ(withSite->SetSite(&second), S_OK);
    EXPECT_EQ(first.refs, 1u);
    EXPECT_EQ(second.refs, 2u);
    withSite.reset();
    command.reset();
    EXPECT_EQ(second.refs, 1u) << "the site must be released with the command";
}

}  // namespace
}  // namespace pellix_test
