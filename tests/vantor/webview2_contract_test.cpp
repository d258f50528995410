// The WebView2 contract as Microsoft publishes it: every interface identifier
// the library declares, and the table slot of every runtime method it calls or
// implements. The stand-in runtime is built from the same header, so the other
// tests cannot see a wrong identifier or slot; only these literals, written
// down from Microsoft's WebView2 reference (the uuid attributes and the method
// order of WebView2.idl), can.

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <cwchar>
#include <string>

#include "host_object_as_external.h"
#include "webview2_api.h"

namespace {

// "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}" in lower case.
std::string GuidText(const GUID& guid) {
    wchar_t wide[40] = {};
    ::StringFromGUID2(guid, wide, 40);
    std::string text;
    for (const wchar_t* c = wide; *c != L'\0'; ++c) text += static_cast<char>(std::towlower(*c));
    return text;
}

struct IidRow {
    const char* name;
    GUID declared;
    const char* published;
};

#define IID_ROW(Interface, literal) {#Interface, __uuidof(Interface), literal}

const IidRow kIids[] = {
    IID_ROW(ICoreWebView2, "{76eceacb-0462-4d94-ac83-423a6793775e}"),
    IID_ROW(ICoreWebView2Settings, "{e562e4f0-d7fa-43ac-8d71-c05150499f00}"),
    IID_ROW(ICoreWebView2Controller, "{4d00c0d1-9434-4eb6-8078-8697a560334f}"),
    IID_ROW(ICoreWebView2Controller2, "{c979903e-d4ca-4228-92eb-47ee3fa96eab}"),
    IID_ROW(ICoreWebView2Controller3, "{f9614724-5d2b-41dc-aef7-73d62b51543b}"),
    IID_ROW(ICoreWebView2Environment, "{b96d755e-0319-4e92-a296-23436f46a1fc}"),
    IID_ROW(ICoreWebView2EnvironmentOptions, "{2fde08a8-1e9a-4766-8c05-95a9ceb9d1c5}"),
    IID_ROW(ICoreWebView2EnvironmentOptions2, "{ff85c98a-1ba7-4a6b-90c8-2b752c89e9e2}"),
    IID_ROW(ICoreWebView2NavigationCompletedEventArgs, "{30d68b7d-20d9-4752-a9ca-ec8448fbb5c1}"),
    IID_ROW(ICoreWebView2NewWindowRequestedEventArgs, "{34acb11c-fc37-4418-9132-f9c21d1eafb9}"),
    IID_ROW(ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler, "{4e8a3389-c9d8-4bd2-b6b5-124fee6cc14d}"),
    IID_ROW(ICoreWebView2CreateCoreWebView2ControllerCompletedHandler, "{6c4819f3-c9b7-4260-8127-c9f5bde7f68c}"),
    IID_ROW(ICoreWebView2NavigationStartingEventHandler, "{9adbe429-f36d-432b-9ddc-f8881fbd76e3}"),
    IID_ROW(ICoreWebView2SourceChangedEventHandler, "{3c067f9f-5388-4772-8b48-79f7ef1ab37c}"),
    IID_ROW(ICoreWebView2NavigationCompletedEventHandler, "{d33a35bf-1c49-4f98-93ab-006e0533fe1c}"),
    IID_ROW(ICoreWebView2DocumentTitleChangedEventHandler, "{f5f2b923-953e-4042-9f95-f3a118e1afd4}"),
    IID_ROW(ICoreWebView2NewWindowRequestedEventHandler, "{d4c185fe-c81c-4989-97af-2d3fa7ab5651}"),
    IID_ROW(ICoreWebView2ProcessFailedEventHandler, "{79e0aea4-990b-42d9-aa1d-0fcc2e5bc7f1}"),
    IID_ROW(ICoreWebView2AddScriptToExecuteOnDocumentCreatedCompletedHandler,
            "{b99369f3-9b11-47b5-bc6f-8e7895fcea17}"),
    // Our own automation interface: the value of host_object_as_external.idl,
    // which the embedded type library carries.
    IID_ROW(IHostObjectASExternal, "{c1b25511-8c93-4f26-8442-7d808e3995a1}"),
};

TEST(WebView2Contract, EveryDeclaredIidIsThePublishedOne) {
    for (const IidRow& row : kIids) EXPECT_EQ(GuidText(row.declared), row.published) << row.name;
}

// The table slot of a virtual member: GCC's (Itanium) pointer to a virtual
// member holds 1 + the byte offset of its entry in the table.
template <typename Member>
std::ptrdiff_t SlotOf(Member member) {
    static_assert(sizeof(Member) == 2 * sizeof(std::ptrdiff_t), "pointer to member is two words");
    std::ptrdiff_t words[2] = {};
    std::memcpy(words, &member, sizeof(words));
    if ((words[0] & 1) == 0) return -1;  // not a virtual member
    return (words[0] - 1) / static_cast<std::ptrdiff_t>(sizeof(void*));
}

struct SlotRow {
    const char* name;
    std::ptrdiff_t declared;
    std::ptrdiff_t published;
};

#define SLOT_ROW(Interface, Method, slot) {#Interface "::" #Method, SlotOf(&Interface::Method), slot}

TEST(WebView2Contract, EveryMethodUsedSitsInItsPublishedSlot) {
    const SlotRow rows[] = {
        // Called on the runtime's objects.
        SLOT_ROW(ICoreWebView2Environment, CreateCoreWebView2Controller, 3),
        SLOT_ROW(ICoreWebView2Controller, put_IsVisible, 4),
        SLOT_ROW(ICoreWebView2Controller, put_Bounds, 6),
        SLOT_ROW(ICoreWebView2Controller, Close, 24),
        SLOT_ROW(ICoreWebView2Controller, get_CoreWebView2, 25),
        SLOT_ROW(ICoreWebView2Controller3, put_ShouldDetectMonitorScaleChanges, 31),
        SLOT_ROW(ICoreWebView2, get_Settings, 3),
        SLOT_ROW(ICoreWebView2, get_Source, 4),
        SLOT_ROW(ICoreWebView2, Navigate, 5),
        SLOT_ROW(ICoreWebView2, add_NavigationStarting, 7),
        SLOT_ROW(ICoreWebView2, remove_NavigationStarting, 8),
        SLOT_ROW(ICoreWebView2, add_SourceChanged, 11),
        SLOT_ROW(ICoreWebView2, remove_SourceChanged, 12),
        SLOT_ROW(ICoreWebView2, add_NavigationCompleted, 15),
        SLOT_ROW(ICoreWebView2, remove_NavigationCompleted, 16),
        SLOT_ROW(ICoreWebView2, add_ProcessFailed, 25),
        SLOT_ROW(ICoreWebView2, remove_ProcessFailed, 26),
        SLOT_ROW(ICoreWebView2, AddScriptToExecuteOnDocumentCreated, 27),
        SLOT_ROW(ICoreWebView2, Reload, 31),
        SLOT_ROW(ICoreWebView2, add_NewWindowRequested, 44),
        SLOT_ROW(ICoreWebView2, remove_NewWindowRequested, 45),
        SLOT_ROW(ICoreWebView2, add_DocumentTitleChanged, 46),
        SLOT_ROW(ICoreWebView2, remove_DocumentTitleChanged, 47),
        SLOT_ROW(ICoreWebView2, get_DocumentTitle, 48),
        SLOT_ROW(ICoreWebView2, AddHostObjectToScript, 49),
        SLOT_ROW(ICoreWebView2, RemoveHostObjectFromScript, 50),
        SLOT_ROW(ICoreWebView2Settings, put_IsScriptEnabled, 4),
        SLOT_ROW(ICoreWebView2Settings, put_IsWebMessageEnabled, 6),
        SLOT_ROW(ICoreWebView2Settings, put_AreDefaultScriptDialogsEnabled, 8),
        SLOT_ROW(ICoreWebView2Settings, put_IsStatusBarEnabled, 10),
        SLOT_ROW(ICoreWebView2NavigationCompletedEventArgs, get_IsSuccess, 3),
        SLOT_ROW(ICoreWebView2NewWindowRequestedEventArgs, get_Uri, 3),
        SLOT_ROW(ICoreWebView2NewWindowRequestedEventArgs, put_Handled, 6),
        // Implemented here and called by the runtime.
        SLOT_ROW(ICoreWebView2EnvironmentOptions, get_AdditionalBrowserArguments, 3),
        SLOT_ROW(ICoreWebView2EnvironmentOptions, put_AdditionalBrowserArguments, 4),
        SLOT_ROW(ICoreWebView2EnvironmentOptions, get_Language, 5),
        SLOT_ROW(ICoreWebView2EnvironmentOptions, get_TargetCompatibleBrowserVersion, 7),
        SLOT_ROW(ICoreWebView2EnvironmentOptions, get_AllowSingleSignOnUsingOSPrimaryAccount, 9),
        SLOT_ROW(ICoreWebView2EnvironmentOptions2, get_ExclusiveUserDataFolderAccess, 3),
        SLOT_ROW(ICoreWebView2EnvironmentOptions2, put_ExclusiveUserDataFolderAccess, 4),
        SLOT_ROW(ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler, Invoke, 3),
        SLOT_ROW(ICoreWebView2CreateCoreWebView2ControllerCompletedHandler, Invoke, 3),
        SLOT_ROW(ICoreWebView2NavigationStartingEventHandler, Invoke, 3),
        SLOT_ROW(ICoreWebView2SourceChangedEventHandler, Invoke, 3),
        SLOT_ROW(ICoreWebView2NavigationCompletedEventHandler, Invoke, 3),
        SLOT_ROW(ICoreWebView2DocumentTitleChangedEventHandler, Invoke, 3),
        SLOT_ROW(ICoreWebView2NewWindowRequestedEventHandler, Invoke, 3),
        SLOT_ROW(ICoreWebView2ProcessFailedEventHandler, Invoke, 3),
        SLOT_ROW(ICoreWebView2AddScriptToExecuteOnDocumentCreatedCompletedHandler, Invoke, 3),
        // Our own automation interface, as the type library lays it out.
        SLOT_ROW(IHostObjectASExternal, Execute, 3),
        SLOT_ROW(IHostObjectASExternal, RegisterFunction, 4),
    };
    for (const SlotRow& row : rows) EXPECT_EQ(row.declared, row.published) << row.name;
}

}  // namespace
