// The script host object "asexternal", driven as page script drives it:
// through IDispatch with the type library's dispatch ids, on the object that
// the view put into the (stand-in) runtime.

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "vantor_fixture.h"
#include "velisk/handles.h"

namespace vantor_test {
namespace {

using velisk::ComPtr;
using Args = std::vector<std::wstring>;

class HostObjectTest : public VantorTest {
protected:
    void SetUp() override {
        VantorTest::SetUp();
        if (HasFatalFailure()) return;
        m_view = NewView(L"https://start.test/");
        ASSERT_NE(m_view, nullptr);
        StartBrowser(m_view, &m_handler);
        ASSERT_EQ(m_stub.FireNavigationStarting(0), 1);
        m_object = ComPtr<IDispatch>::Attach(HostObject());
        ASSERT_TRUE(m_object) << "no asexternal object after the navigation started";
    }
    void TearDown() override {
        m_object.reset();
        if (m_view != nullptr) m_view->Close();
        VantorTest::TearDown();
    }

    RecordingHandler m_handler;
    CefWebView::IWebViewEx* m_view = nullptr;
    ComPtr<IDispatch> m_object;
};

TEST_F(HostObjectTest, ExecuteTurnsTheParameterTextIntoHostArguments) {
    struct Case {
        const char* name;
        const wchar_t* funcName;
        const wchar_t* param;  // null: a null automation string
        HRESULT status;
        std::optional<Args> args;  // none: the function is not called
        bool argsNull;
    };
    const Case cases[] = {
        {"object members in name order", L"f", L"{\"b\":\"x\",\"a\":1}", S_OK, Args{L"1", L"x"}, false},
        {"real number", L"f", L"{\"v\":1.5}", S_OK, Args{L"1.500000"}, false},
        {"booleans", L"f", L"{\"t\":true,\"f\":false}", S_OK, Args{L"0", L"1"}, false},
        {"largest unsigned 32-bit value", L"f", L"{\"n\":4294967295}", S_OK, Args{L"4294967295"}, false},
        {"zero", L"f", L"{\"n\":0}", S_OK, Args{L"0"}, false},
        {"text that is not JSON", L"f", L"hello world", S_OK, Args{L"hello world"}, false},
        {"JSON array", L"f", L"[1,2]", S_OK, Args{L"[1,2]"}, false},
        {"JSON number", L"f", L"42", S_OK, Args{L"42"}, false},
        {"JSON string", L"f", L"\"s\"", S_OK, Args{L"\"s\""}, false},
        {"deeply nested arrays", L"f", nullptr, S_OK, std::nullopt, false},  // filled below
        {"JSON null", L"f", L"null", S_OK, Args{}, true},
        {"empty text", L"f", L"", S_OK, Args{}, true},
        {"null text", L"f", nullptr, S_OK, Args{}, true},
        {"wvputFile keeps an object unchanged", L"wvputFile", L"{\"a\":1}", S_OK, Args{L"{\"a\":1}"}, false},
        {"wvputFile keeps an empty text", L"wvputFile", L"", S_OK, Args{L""}, false},
        {"array member", L"f", L"{\"a\":[1],\"b\":\"x\"}", E_INVALIDARG, std::nullopt, false},
        {"object member", L"f", L"{\"a\":{}}", E_INVALIDARG, std::nullopt, false},
        {"null member", L"f", L"{\"a\":null}", E_INVALIDARG, std::nullopt, false},
        {"negative integer member", L"f", L"{\"a\":-1}", E_INVALIDARG, std::nullopt, false},
        {"integer member above 32 bits", L"f", L"{\"a\":4294967296}", E_INVALIDARG, std::nullopt, false},
    };
    const std::wstring deep = std::wstring(5000, L'[') + std::wstring(5000, L']');

    RecordingFunction f;
    RecordingFunction putFile;
    m_view->RegisterHostFunction(L"f", &f);
    m_view->RegisterHostFunction(L"wvputFile", &putFile);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const bool isDeep = std::string(c.name) == "deeply nested arrays";
        RecordingFunction& target = std::wstring(c.funcName) == L"wvputFile" ? putFile : f;
        target.calls.clear();
        const HRESULT hr = InvokeExecute(m_object.get(), c.funcName, isDeep ? deep.c_str() : c.param);
        EXPECT_EQ(hr, c.status);
        if (isDeep) {  // too deep for the reader: handed over whole, and the process lives on
            ASSERT_EQ(target.calls.size(), 1u);
            EXPECT_EQ(target.calls[0].args, Args{deep});
            continue;
        }
        if (!c.args) {
            EXPECT_TRUE(target.calls.empty()) << "the function must not be called";
            continue;
        }
        ASSERT_EQ(target.calls.size(), 1u);
        EXPECT_EQ(target.calls[0].name, c.funcName);
        EXPECT_EQ(target.calls[0].args, *c.args);
        EXPECT_EQ(target.calls[0].argsNull, c.argsNull);
    }
}

TEST_F(HostObjectTest, ExecuteWrapsTheHostAnswerAndHandsItBack) {
    struct Case {
        const char* name;
        std::optional<std::wstring> answer;
        std::wstring expected;
    };
    const Case cases[] = {
        {"plain answer", L"ok", L"{\"r1\":\"ok\"}"},
        {"answer inserted without escaping", L"a\"b", L"{\"r1\":\"a\"b\"}"},
        {"empty answer", L"", L"{\"r1\":\"\"}"},
        {"no answer", std::nullopt, L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingFunction f(c.answer);
        m_view->RegisterHostFunction(L"f", &f);
        std::wstring answer;
        EXPECT_EQ(InvokeExecute(m_object.get(), L"f", L"{}", &answer), S_OK);
        EXPECT_EQ(answer, c.expected);
        EXPECT_EQ(f.frees, c.answer ? 1 : 0);
        EXPECT_EQ(f.freedOther, 0);
        m_view->UnregisterHostFunction(L"f");
        EXPECT_EQ(f.releases, 1);
    }
}

TEST_F(HostObjectTest, AnUnknownHostFunctionIsNotImplemented) {
    RecordingFunction f(L"ok");
    m_view->RegisterHostFunction(L"F", &f);  // names are case-sensitive
    EXPECT_EQ(InvokeExecute(m_object.get(), L"f", L"{\"a\":1}"), E_NOTIMPL);
    EXPECT_TRUE(f.calls.empty());
    m_view->UnregisterHostFunction(L"F");
    EXPECT_EQ(InvokeExecute(m_object.get(), L"F", L"x"), E_NOTIMPL);
    EXPECT_TRUE(f.calls.empty());
}

TEST_F(HostObjectTest, HostFunctionsAreReleasedWhenReplacedWithdrawnOrDropped) {
    RecordingFunction first, second, third;
    m_view->RegisterHostFunction(L"f", &first);
    m_view->RegisterHostFunction(L"f", &second);
    EXPECT_EQ(first.releases, 1) << "replacing releases the earlier function";
    EXPECT_EQ(InvokeExecute(m_object.get(), L"f", L"x"), S_OK);
    EXPECT_TRUE(first.calls.empty());
    EXPECT_EQ(second.calls.size(), 1u);
    m_view->UnregisterHostFunction(L"f");
    EXPECT_EQ(second.releases, 1);
    m_view->UnregisterHostFunction(L"f");
    EXPECT_EQ(second.releases, 1) << "withdrawing twice releases once";

    m_view->RegisterHostFunction(L"g", &third);
    m_object.reset();
    ASSERT_EQ(m_stub.FireNavigationStarting(0), 1);  // the old object is dropped
    EXPECT_EQ(third.releases, 1);
    EXPECT_EQ(first.releases + second.releases, 2);
}

TEST_F(HostObjectTest, TypeInformationComesFromTheEmbeddedLibrary) {
    UINT count = 0;
    EXPECT_EQ(m_object->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    ComPtr<ITypeInfo> info;
    EXPECT_EQ(m_object->GetTypeInfo(1, 0, info.receive()), static_cast<HRESULT>(0x8002802B));
    ASSERT_EQ(m_object->GetTypeInfo(0, 0, info.receive()), S_OK);

    ComPtr<ITypeLib> library;
    UINT index = 0;
    ASSERT_EQ(info->GetContainingTypeLib(library.receive(), &index), S_OK);
    TLIBATTR* attributes = nullptr;
    ASSERT_EQ(library->GetLibAttr(&attributes), S_OK);
    const GUID libraryId = {0x0A7A4655, 0x5660, 0x47D0, {0x8A, 0x37, 0x98, 0xAE, 0x21, 0x39, 0x9E, 0x57}};
    EXPECT_TRUE(IsEqualGUID(attributes->guid, libraryId));
    EXPECT_EQ(attributes->wMajorVerNum, 1);
    EXPECT_EQ(attributes->wMinorVerNum, 0);
    EXPECT_EQ(attributes->lcid, 0x409u);
    library->ReleaseTLibAttr(attributes);

    struct Case {
        const wchar_t* name;
        DISPID id;
    };
    const Case cases[] = {{L"Execute", kExecuteId}, {L"RegisterFunction", kRegisterFunctionId}};
    for (const auto& c : cases) {
        LPOLESTR name = const_cast<LPOLESTR>(c.name);
        DISPID id = 0;
        EXPECT_EQ(m_object->GetIDsOfNames(IID_NULL, &name, 1, 0, &id), S_OK);
        EXPECT_EQ(id, c.id);
    }
}

TEST_F(HostObjectTest, APageFunctionGetsOnePayloadText) {
    struct Case {
        const char* name;
        std::wstring function;
        Args args;
        std::optional<std::wstring> payload;  // none: called without an argument
    };
    const Case cases[] = {
        {"two arguments", L"show", {L"a", L"b"}, L"{\"p1\":\"a\",\"p2\":\"b\"}"},
        {"one plain argument", L"show", {L"x"}, L"{\"p1\":\"x\"}"},
        {"single object text passes unchanged", L"show", {L"{\"k\":1}"}, L"{\"k\":1}"},
        {"object text among two is wrapped", L"show", {L"{a", L"b"}, L"{\"p1\":\"{a\",\"p2\":\"b\"}"},
        {"arguments are not escaped", L"show", {L"say \"hi\""}, L"{\"p1\":\"say \"hi\"\"}"},
        {"wvgetFile takes the first argument", L"wvgetFile", {L"C:\\f.txt", L"more"}, L"C:\\f.txt"},
        {"no arguments", L"show", {}, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakePageFunction page(S_FALSE);
        ASSERT_EQ(InvokeRegisterFunction(m_object.get(), c.function, &page), S_OK);
        std::vector<const wchar_t*> pointers;
        for (const auto& a : c.args) pointers.push_back(a.c_str());
        RecordingCompletion completion;
        EXPECT_EQ(m_view->CallScriptFunction(c.function.c_str(), &completion,
                                             pointers.empty() ? nullptr : pointers.data(),
                                             static_cast<int>(pointers.size())),
                  S_OK);
        ASSERT_EQ(page.invokes.size(), 1u);
        const auto& call = page.invokes[0];
        EXPECT_EQ(call.id, DISPID_UNKNOWN);
        EXPECT_EQ(call.locale, 0x400u);
        EXPECT_EQ(call.flags, DISPATCH_METHOD);
        if (c.payload) {
            EXPECT_EQ(call.argCount, 1u);
            EXPECT_EQ(call.argType, VT_BSTR);
            EXPECT_EQ(call.payload, *c.payload);
        } else {
            EXPECT_EQ(call.argCount, 0u);
        }
        ASSERT_EQ(completion.records.size(), 1u);
        EXPECT_EQ(completion.records[0].reserved, 0);
        EXPECT_EQ(completion.records[0].status, S_FALSE) << "the page function's own status is passed on";
        EXPECT_EQ(completion.records[0].result, L"");
        ASSERT_EQ(InvokeRegisterFunction(m_object.get(), c.function, nullptr), S_OK);
        EXPECT_EQ(page.refs, 1u) << "the page function is let go";
    }
}

TEST_F(HostObjectTest, AnUnregisteredPageFunctionIsNotImplementedAndNothingRuns) {
    FakePageFunction page;
    ASSERT_EQ(InvokeRegisterFunction(m_object.get(), L"show", &page), S_OK);
    ASSERT_EQ(InvokeRegisterFunction(m_object.get(), L"show", nullptr), S_OK);  // a null function withdraws
    const wchar_t* args[] = {L"a"};
    for (const wchar_t* name : {L"show", L"never"}) {
        RecordingCompletion completion;
        EXPECT_EQ(m_view->CallScriptFunction(name, &completion, args, 1), S_OK);
        ASSERT_EQ(completion.records.size(), 1u);
        EXPECT_EQ(completion.records[0].status, E_NOTIMPL);
    }
    EXPECT_TRUE(page.invokes.empty());
    EXPECT_EQ(m_view->CallScriptFunction(L"never", nullptr, args, 1), S_OK) << "a completion is optional";
}

TEST_F(HostObjectTest, ReRegisteringAPageFunctionReplacesIt) {
    FakePageFunction first, second;
    ASSERT_EQ(InvokeRegisterFunction(m_object.get(), L"show", &first), S_OK);
    ASSERT_EQ(InvokeRegisterFunction(m_object.get(), L"show", &second), S_OK);
    EXPECT_EQ(first.refs, 1u);
    RecordingCompletion completion;
    m_view->CallScriptFunction(L"show", &completion, nullptr, 0);
    EXPECT_TRUE(first.invokes.empty());
    EXPECT_EQ(second.invokes.size(), 1u);
    m_object.reset();
    m_view->LoadUrl(L"https://next.test/", nullptr);  // drops the page and its object
    EXPECT_EQ(second.refs, 1u);
}

}  // namespace
}  // namespace vantor_test
