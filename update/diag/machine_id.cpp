#include "diag/machine_id.h"

#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>

#include <cstdio>
#include <new>

namespace {

constexpr ULONG kFirstBufferSize = 376;

int ScoreAdapter(const NetworkAdapterFacts& adapter) {
    const std::wstring text = adapter.description + L":" + adapter.friendlyName;
    const auto contains = [&text](const wchar_t* part) { return text.find(part) != std::wstring::npos; };
    int score = (contains(L"Virtual") || contains(L"VMware")) ? -1 : 0;
    if (contains(L"以太网") || contains(L"本地连接")) ++score;
    return score;
}

std::string FormatAddress(const std::vector<unsigned char>& a) {
    char text[32] = {};
    std::snprintf(text, sizeof(text), "%02X-%02X-%02X-%02X-%02X-%02X", a[0], a[1], a[2], a[3], a[4], a[5]);
    return text;
}

// Asks GetAdaptersAddresses, growing the buffer once when it is too small.
// Returns false when memory cannot be had or the query fails.
bool QueryAdapters(std::vector<unsigned char>& buffer) {
    ULONG size = kFirstBufferSize;
    try {
        buffer.assign(size, 0);
        ULONG rc = ::GetAdaptersAddresses(AF_UNSPEC, 0, nullptr,
                                          reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
        if (rc == ERROR_BUFFER_OVERFLOW) {
            buffer.assign(size, 0);
            rc = ::GetAdaptersAddresses(AF_UNSPEC, 0, nullptr,
                                        reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
        }
        // An empty adapter list is not a failure: there is just nothing to choose.
        if (rc == ERROR_NO_DATA) {
            buffer.clear();
            return true;
        }
        return rc == ERROR_SUCCESS;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

}  // namespace

std::string ChooseMachineId(const std::vector<NetworkAdapterFacts>& adapters) {
    int best = -100;
    std::string chosen;
    for (const auto& adapter : adapters) {
        if (adapter.hardwareAddress.size() != 6) continue;
        const int score = ScoreAdapter(adapter);
        if (score > best) {
            best = score;
            chosen = FormatAddress(adapter.hardwareAddress);
        }
    }
    return chosen;
}

bool CollectMachineId(std::string& id) {
    std::vector<unsigned char> buffer;
    if (!QueryAdapters(buffer)) {
        id = "invaid";
        return false;
    }
    std::vector<NetworkAdapterFacts> adapters;
    const auto* node = buffer.empty() ? nullptr : reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(buffer.data());
    for (; node != nullptr; node = node->Next) {
        NetworkAdapterFacts facts;
        if (node->Description != nullptr) facts.description = node->Description;
        if (node->FriendlyName != nullptr) facts.friendlyName = node->FriendlyName;
        const ULONG n = node->PhysicalAddressLength <= MAX_ADAPTER_ADDRESS_LENGTH ? node->PhysicalAddressLength : 0;
        facts.hardwareAddress.assign(node->PhysicalAddress, node->PhysicalAddress + n);
        adapters.push_back(std::move(facts));
    }
    id = ChooseMachineId(adapters).substr(0, 39);
    return true;
}
