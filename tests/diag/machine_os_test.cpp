// The machine identifier's adapter choice and the system-name table, as pure
// choices over given facts, plus what this machine really yields.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "diag/machine_id.h"
#include "diag/os_name.h"

namespace {

NetworkAdapterFacts Adapter(const wchar_t* description, const wchar_t* friendlyName, unsigned char last,
                            size_t length = 6) {
    NetworkAdapterFacts a;
    a.description = description;
    a.friendlyName = friendlyName;
    a.hardwareAddress = {0x00, 0x50, 0x56, 0xC0, 0x00, last};
    a.hardwareAddress.resize(length, 0x11);
    return a;
}

constexpr wchar_t kEthernetCn[] = L"\x4EE5\x592A\x7F51";            // "以太网"
constexpr wchar_t kLocalConnectionCn[] = L"\x672C\x5730\x8FDE\x63A5";  // "本地连接"

TEST(MachineId, ChoosesTheAdapterThatLooksMostLikeTheWiredOne) {
    const struct {
        const char* name;
        std::vector<NetworkAdapterFacts> adapters;
        const char* id;
    } cases[] = {
        {"no adapters", {}, ""},
        {"only VMware adapters: the first one still wins over nothing",
         {Adapter(L"VMware Virtual Ethernet Adapter for VMnet1", L"VMnet1", 0x01),
          Adapter(L"VMware Virtual Ethernet Adapter for VMnet8", L"VMnet8", 0x08)},
         "00-50-56-C0-00-01"},
        {"a physical adapter beats a virtual one",
         {Adapter(L"Hyper-V Virtual Ethernet Adapter", L"vEthernet", 0x01),
          Adapter(L"Realtek PCIe GbE Family Controller", L"Ethernet", 0x02)},
         "00-50-56-C0-00-02"},
        {"\"以太网\" in the friendly name wins over a plain physical adapter and a virtual one",
         {Adapter(L"Intel(R) Wi-Fi 6 AX201", L"WLAN", 0x01), Adapter(L"VMware Virtual", kEthernetCn, 0x02),
          Adapter(L"Realtek PCIe GbE Family Controller", kEthernetCn, 0x03)},
         "00-50-56-C0-00-03"},
        {"two physical \"以太网\" adapters keep the first",
         {Adapter(L"Realtek PCIe GbE Family Controller", kEthernetCn, 0x01),
          Adapter(L"Intel(R) Ethernet Connection", (std::wstring(kEthernetCn) + L" 2").c_str(), 0x02)},
         "00-50-56-C0-00-01"},
        {"\"本地连接\" counts like \"以太网\"",
         {Adapter(L"Intel(R) PRO/1000", L"Wireless", 0x01), Adapter(L"Broadcom NetXtreme", kLocalConnectionCn, 0x02)},
         "00-50-56-C0-00-02"},
        {"\"virtual\" in lower case is not \"Virtual\"",
         {Adapter(L"Realtek PCIe GbE", L"Ethernet", 0x01), Adapter(L"a virtual adapter", kEthernetCn, 0x02)},
         "00-50-56-C0-00-02"},
        {"addresses that are not 6 bytes long do not count",
         {Adapter(L"Software Loopback Interface 1", kEthernetCn, 0x01, 0),
          Adapter(L"Teredo Tunneling Pseudo-Interface", kEthernetCn, 0x02, 8),
          Adapter(L"VMware Virtual", L"VMnet1", 0x03)},
         "00-50-56-C0-00-03"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ChooseMachineId(c.adapters), c.id);
    }
}

TEST(MachineId, IsSeventeenCharactersOfHexPairsOrEmptyOnThisMachine) {
    std::string id = "stale";
    ASSERT_TRUE(CollectMachineId(id));
    if (id.empty()) return;  // no adapter with a 6-byte address here
    ASSERT_EQ(id.size(), 17u) << id;
    for (size_t i = 0; i < id.size(); ++i) {
        if (i % 3 == 2) {
            EXPECT_EQ(id[i], '-') << id;
        } else {
            EXPECT_NE(std::string("0123456789ABCDEF").find(id[i]), std::string::npos) << id;
        }
    }
}

TEST(OsName, MapsVersionNumbersAndProductTypeToTheSystemName) {
    const struct {
        unsigned major, minor, platformId, productType;
        int serverR2;
        int code;
        const char* name;
    } cases[] = {
        {4, 0, 2, 1, 0, 1, "Windows_NT 4.0"},
        {4, 0, 1, 0, 0, 2, "Windows 95"},
        {4, 0, 0, 0, 0, 0, "unknown OperatingSystem."},
        {4, 10, 1, 0, 0, 3, "Windows 98"},
        {4, 90, 1, 0, 0, 4, "Windows Me"},
        {5, 0, 2, 1, 0, 5, "Windows 2000"},
        {5, 1, 2, 1, 0, 6, "Windows XP"},
        {5, 2, 2, 1, 1, 7, "Windows XP Professional x64 Edition"},
        {5, 2, 2, 3, 0, 8, "Windows Server 2003"},
        {5, 2, 2, 3, 1, 9, "Microsoft Windows Server 2003 R2"},
        {6, 0, 2, 1, 0, 10, "Microsoft Windows Vista"},
        {6, 0, 2, 3, 0, 11, "Microsoft Windows Server 2008"},
        {6, 1, 2, 1, 0, 12, "Windows 7"},
        {6, 1, 2, 2, 0, 13, "Windows Server 2008 R2"},
        {6, 2, 2, 1, 0, 14, "Windows 8"},
        {6, 2, 2, 3, 0, 15, "Windows Server 2012"},
        {6, 3, 2, 1, 0, 16, "Windows 8.1"},
        {6, 3, 2, 3, 0, 17, "Windows Server 2012 R2"},
        {6, 4, 2, 1, 0, 0, "unknown OperatingSystem."},
        {10, 0, 2, 1, 0, 18, "Windows 10"},
        {10, 0, 2, 2, 0, 18, "Windows 10"},
        {10, 0, 2, 3, 0, 18, "Windows 10"},
        {10, 1, 2, 1, 0, 0, "unknown OperatingSystem."},
        {11, 0, 2, 1, 0, 0, "unknown OperatingSystem."},
        {0, 0, 0, 0, 0, 0, "unknown OperatingSystem."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.major << "." << c.minor << " product type " << c.productType);
        OsVersionFacts facts;
        facts.major = c.major;
        facts.minor = c.minor;
        facts.platformId = c.platformId;
        facts.productType = c.productType;
        facts.serverR2 = c.serverR2;
        EXPECT_EQ(OsVersionCodeFor(facts), c.code);
        EXPECT_STREQ(OsNameForCode(c.code), c.name);
    }
    EXPECT_STREQ(OsNameForCode(19), "unknown OperatingSystem.");
    EXPECT_STREQ(OsNameForCode(-1), "unknown OperatingSystem.");
}

}  // namespace
