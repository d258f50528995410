// The public tables by slot number, as a host built with another compiler
// sees them: the test calls the factory and the view through raw table
// entries, and hands the library handler, function and completion objects
// whose tables are plain arrays of functions. (64-bit: one calling
// convention for members and free functions, so a table entry can be called
// as a function that takes the object first.)

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "vantor_fixture.h"
#include "velisk/handles.h"

#if defined(__x86_64__)

namespace vantor_test {
namespace {

using Table = void* const*;
Table TableOf(void* object) { return *static_cast<Table*>(object); }

template <typename Fn>
Fn Slot(void* object, int index) {
    return reinterpret_cast<Fn>(TableOf(object)[index]);
}

// An object whose table is `table`; every entry records what reached it.
struct RawObject {
    Table table;
    std::vector<std::wstring>* calls;
};

std::wstring Text(const wchar_t* text) { return text != nullptr ? text : L"<null>"; }

// Handler slots 0..9.
void HandlerReserved(RawObject* self) { self->calls->push_back(L"handler reserved slot"); }
void HandlerStarting(RawObject* self, void*) { self->calls->push_back(L"1 starting"); }
void HandlerFailed(RawObject* self, void*, const wchar_t* address, int code) {
    self->calls->push_back(L"5 failed " + Text(address) + L" " + std::to_wstring(code));
}
void HandlerSucceeded(RawObject* self, void*) { self->calls->push_back(L"6 succeeded"); }
void HandlerSource(RawObject* self, void*, const wchar_t* a) { self->calls->push_back(L"7 source " + Text(a)); }
void HandlerTitle(RawObject* self, void*, const wchar_t* t) { self->calls->push_back(L"8 title " + Text(t)); }
void HandlerNewWindow(RawObject* self, void*, const wchar_t* a) { self->calls->push_back(L"9 window " + Text(a)); }
void* const kHandlerTable[] = {
    reinterpret_cast<void*>(&HandlerReserved),  reinterpret_cast<void*>(&HandlerStarting),
    reinterpret_cast<void*>(&HandlerReserved),  reinterpret_cast<void*>(&HandlerReserved),
    reinterpret_cast<void*>(&HandlerReserved),  reinterpret_cast<void*>(&HandlerFailed),
    reinterpret_cast<void*>(&HandlerSucceeded), reinterpret_cast<void*>(&HandlerSource),
    reinterpret_cast<void*>(&HandlerTitle),     reinterpret_cast<void*>(&HandlerNewWindow),
};

// Host function slots 0..2.
wchar_t g_answer[] = L"ok";
int FunctionCall(RawObject* self, const wchar_t* name, const wchar_t** args, int count, wchar_t** result) {
    self->calls->push_back(L"0 call " + Text(name) + L" " + std::to_wstring(count) + L" " +
                           (count > 0 ? Text(args[0]) : L""));
    *result = g_answer;
    return 0;
}
void FunctionFree(RawObject* self, wchar_t* result) {
    self->calls->push_back(result == g_answer ? L"1 free" : L"1 free of a foreign pointer");
}
void FunctionRelease(RawObject* self) { self->calls->push_back(L"2 release"); }
void* const kFunctionTable[] = {reinterpret_cast<void*>(&FunctionCall), reinterpret_cast<void*>(&FunctionFree),
                                reinterpret_cast<void*>(&FunctionRelease)};

// Completion slot 0.
void Completed(RawObject* self, int reserved, HRESULT status, const wchar_t* result) {
    wchar_t text[64];
    swprintf(text, 64, L"0 completed %d %08lX ", reserved, static_cast<unsigned long>(status));
    self->calls->push_back(text + Text(result));
}
void* const kCompletionTable[] = {reinterpret_cast<void*>(&Completed)};

using AbiTest = VantorTest;

TEST_F(AbiTest, FactoryViewAndHostTablesKeepTheirSlotNumbers) {
    std::vector<std::wstring> calls;
    RawObject handler{kHandlerTable, &calls};
    RawObject function{kFunctionTable, &calls};
    RawObject completion{kCompletionTable, &calls};

    void* factory = m_vantor.GetWebViewFactory();
    EXPECT_EQ(Slot<int (*)(void*)>(factory, 1)(factory), 1);
    void* view = Slot<void* (*)(void*, int, HWND, RECT, const wchar_t*, void*)>(factory, 2)(
        factory, VANTOR_ENGINE_WEBVIEW2, m_window->hwnd(), RECT{1, 2, 3, 4}, L"https://abi.test/", nullptr);
    ASSERT_NE(view, nullptr);

    EXPECT_EQ(Slot<BOOL (*)(void*, void*, void*)>(view, 3)(view, nullptr, nullptr), TRUE);
    void* extension = view;
    EXPECT_EQ(Slot<HRESULT (*)(void*, uintptr_t, void**)>(view, 9)(view, 5, &extension), E_NOINTERFACE);
    EXPECT_EQ(extension, nullptr);
    Slot<void (*)(void*, void*)>(view, 10)(view, &calls);
    uint32_t parent = 0;
    DWORD size = 4;
    EXPECT_EQ(Slot<HRESULT (*)(void*, const wchar_t*, void*, DWORD*)>(view, 11)(view, L"root_window", &parent, &size),
              S_OK);
    EXPECT_EQ(parent, static_cast<uint32_t>(reinterpret_cast<uintptr_t>(m_window->hwnd())));
    EXPECT_EQ(Slot<HRESULT (*)(void*, const wchar_t*, const void*, DWORD)>(view, 12)(
                  view, L"set_edge_log_path", m_data.name().c_str(), 0),
              S_OK);
    EXPECT_EQ(Slot<int (*)(void*, void*)>(view, 14)(view, nullptr), 0);
    EXPECT_EQ(Slot<int (*)(void*, void*)>(view, 18)(view, nullptr), 0);
    EXPECT_EQ(Slot<HRESULT (*)(void*)>(view, 19)(view), S_OK);

    EXPECT_EQ(Slot<BOOL (*)(void*, void*)>(view, 1)(view, &handler), TRUE);  // Create
    ASSERT_TRUE(PumpUntil([&] { return m_stub.WebViewCount() == 1; }));
    PumpPending();
    EXPECT_EQ(Slot<BOOL (*)(void*, BOOL)>(view, 5)(view, FALSE), TRUE);  // SetVisible
    const RECT bounds = {7, 8, 9, 10};
    Slot<void (*)(void*, const RECT*)>(view, 6)(view, &bounds);  // SetBounds
    EXPECT_GE(FindLog(L"controller1.put_IsVisible 0"), 0);
    EXPECT_GE(FindLog(L"controller1.put_Bounds 7,8,9,10"), 0);

    m_stub.FireNavigationStarting(0);
    m_stub.FireSourceChanged(0, L"https://abi.test/s");
    m_stub.FireDocumentTitleChanged(0, L"T");
    m_stub.FireNewWindowRequested(0, L"https://abi.test/w", nullptr);
    m_stub.FireNavigationCompleted(0, TRUE);
    m_stub.FireNavigationCompleted(0, FALSE);

    EXPECT_EQ(Slot<HRESULT (*)(void*, const wchar_t*, void*)>(view, 16)(view, L"f", &function), S_OK);
    velisk::ComPtr<IDispatch> object = velisk::ComPtr<IDispatch>::Attach(HostObject());
    ASSERT_TRUE(object);
    std::wstring answer;
    EXPECT_EQ(InvokeExecute(object.get(), L"f", L"{\"a\":\"x\"}", &answer), S_OK);
    EXPECT_EQ(answer, L"{\"r1\":\"ok\"}");
    EXPECT_EQ(Slot<HRESULT (*)(void*, const wchar_t*)>(view, 17)(view, L"f"), S_OK);  // UnregisterHostFunction
    const wchar_t* args[] = {L"a"};
    EXPECT_EQ(Slot<HRESULT (*)(void*, const wchar_t*, void*, const wchar_t**, int)>(view, 13)(view, L"none",
                                                                                             &completion, args, 1),
              S_OK);

    const std::vector<std::wstring> expected = {
        L"1 starting",
        L"7 source https://abi.test/s",
        L"8 title T",
        L"9 window https://abi.test/w",
        L"6 succeeded",
        L"5 failed https://abi.test/ 0",
        L"0 call f 1 x",
        L"1 free",
        L"2 release",
        L"0 completed 0 80004001 ",
    };
    EXPECT_EQ(calls, expected);

    object.reset();
    EXPECT_EQ(Slot<BOOL (*)(void*, const wchar_t*, void*)>(view, 4)(view, L"https://abi.test/2", nullptr), TRUE);
    EXPECT_GE(FindLog(L"controller1.Close"), 0) << "LoadUrl is slot 4";
    Slot<void (*)(void*)>(view, 7)(view);  // Close
    PumpPending();
    EXPECT_EQ(m_vantor.IWebViewToIWebViewEx(static_cast<CefWebView::IWebView*>(view)), nullptr);
}

}  // namespace
}  // namespace vantor_test

#endif  // __x86_64__
