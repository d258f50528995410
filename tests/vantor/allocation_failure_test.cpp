// Out of memory at every allocation of the calls that a host and page script
// make: the library's code runs inside this program, whose allocator fails on
// request (support/failing_allocator.cpp). Every call answers E_OUTOFMEMORY
// or its normal result and throws nothing; the host's strings and objects go
// back to it exactly once.
#include <gtest/gtest.h>

#include <windows.h>
#include <oleauto.h>

#include <cwchar>
#include <functional>
#include <string>

#include "host_object_as_external.h"
#include "support/failing_allocator.h"
#include "web_view.h"

namespace {

using testing_support::AllocationLimit;

// A host function that answers with a string of its own and counts what the
// library hands back.
class CountingFunction final : public CefWebView::IHostFunction {
public:
    int Call(const wchar_t*, const wchar_t**, int, wchar_t** result) override {
        ++calls;
        *result = m_answer;
        return 0;
    }
    void FreeResult(wchar_t* result) override { frees += result == m_answer ? 1 : 100; }
    void Release() override { ++releases; }

    int calls = 0;
    int frees = 0;
    int releases = 0;

private:
    wchar_t m_answer[8] = L"answer";
};

// Runs `call` with 0, 1, 2, ... allocations allowed until it needs no more;
// every refused run must give E_OUTOFMEMORY (or the normal result when the
// refused allocation was one the call can do without).
void ForEachAllocationLimit(const std::function<HRESULT()>& call, HRESULT normal,
                            const std::function<void()>& check) {
    long allowed = 0;
    for (;; ++allowed) {
        ASSERT_LT(allowed, 10000);
        HRESULT hr = E_FAIL;
        bool refused = false;
        {
            AllocationLimit limit(allowed);
            hr = call();
            refused = limit.refused();
        }
        check();
        if (!refused) {
            EXPECT_EQ(hr, normal) << allowed;
            break;
        }
        EXPECT_TRUE(hr == E_OUTOFMEMORY || hr == normal) << allowed << " hr=" << std::hex << hr;
    }
    EXPECT_GT(allowed, 0) << "the call allocated nothing";
}

TEST(VantorOutOfMemory, ScriptCallsOfAHostFunctionGiveEOutOfMemoryAndFreeEveryAnswerOnce) {
    CountingFunction function;
    vantor::CHostObjectASExternal* object = vantor::CHostObjectASExternal::Create();
    ASSERT_NE(object, nullptr);
    object->SetHostFunction(L"getUser", &function);
    BSTR name = ::SysAllocString(L"getUser");
    BSTR json = ::SysAllocString(L"{\"p1\":\"张三\",\"p2\":\"a b\"}");
    ForEachAllocationLimit(
        [&] {
            BSTR answer = nullptr;
            const HRESULT hr = object->Execute(name, json, &answer);
            ::SysFreeString(answer);
            return hr;
        },
        S_OK, [&] { EXPECT_EQ(function.frees, function.calls); });
    EXPECT_GT(function.calls, 0);

    // A page function registered under the same memory pressure (the object
    // itself stands in for the page's function), then withdrawn: the object
    // keeps no reference to it afterwards.
    BSTR pageName = ::SysAllocString(L"onUserChangedByTheHost");
    ForEachAllocationLimit([&] { return object->RegisterFunction(pageName, static_cast<IDispatch*>(object)); },
                           S_OK, [] {});
    EXPECT_EQ(object->RegisterFunction(pageName, nullptr), S_OK);
    ::SysFreeString(pageName);

    object->RemoveHostFunction(L"getUser");
    EXPECT_EQ(function.releases, 1);
    EXPECT_EQ(object->Release(), 0u);
    ::SysFreeString(name);
    ::SysFreeString(json);
}

TEST(VantorOutOfMemory, ViewPropertiesGiveEOutOfMemoryAndTheViewStillCloses) {
    const RECT bounds{0, 0, 100, 100};
    auto* view = new vantor::CWebView(nullptr, bounds, L"about:blank");
    const wchar_t command[] = L"--disable-gpu --lang=zh-CN";
    ForEachAllocationLimit(
        [&] { return view->SetProperty(L"special_command", command, sizeof(command)); }, S_OK, [] {});
    ForEachAllocationLimit(
        [&] {
            return view->SetProperty(L"set_edge_log_path", L"客户端浏览器日志目录", sizeof(L"客户端浏览器日志目录"));
        },
        S_OK, [] {});
    view->Close();  // no browser: the view goes at once
}

}  // namespace

namespace {

// The hook itself: a refused allocation throws, and the limit counts.
TEST(VantorOutOfMemory, TheAllocatorRefusesOnceTheLimitIsUsedUp) {
    AllocationLimit limit(1);
    auto* first = new int(1);
    EXPECT_THROW(static_cast<void>(new int(2)), std::bad_alloc);
    EXPECT_TRUE(limit.refused());
    delete first;
}

}  // namespace
