// What the proxy log line shows of a setting: everything but user names and
// passwords.
#include <gtest/gtest.h>

#include <string>

#include "diag/proxy_settings.h"

namespace {

TEST(ProxyText, LogsEveryEntryWithoutItsCredentials) {
    const struct {
        const wchar_t* setting;
        const wchar_t* logged;
    } cases[] = {
        {L"proxy.corp:8080", L"proxy.corp:8080"},
        {L"user:secret@proxy.corp:8080", L"proxy.corp:8080"},
        {L"http=u:p@a:80;https=b:443", L"http=a:80;https=b:443"},
        {L"http=http://u:p@a:80 https=https://b:443", L"http=http://a:80 https=https://b:443"},
        {L"http://me:p@ss@wpad.corp/proxy.pac", L"http://wpad.corp/proxy.pac"},
        {L"http://wpad.corp/proxy.pac?owner=a@b", L"http://wpad.corp/proxy.pac?owner=a@b"},
        {L"", L""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(WithoutCredentials(c.setting), c.logged) << testing::PrintToString(std::wstring(c.setting));
    }
}

}  // namespace
