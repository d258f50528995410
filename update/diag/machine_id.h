// The machine identifier of the statistics points: the hardware address of
// the network adapter that looks most like the machine's own wired adapter.
#pragma once

#include <string>
#include <vector>

// What the choice looks at for one adapter.
struct NetworkAdapterFacts {
    std::wstring description;
    std::wstring friendlyName;
    std::vector<unsigned char> hardwareAddress;
};

// Chooses among `adapters` (in the system's order) and returns the chosen
// address as "%02X-%02X-%02X-%02X-%02X-%02X", or an empty text when no adapter
// has a 6-byte address. Only 6-byte addresses count. The text description +
// ":" + friendly name scores -1 when it contains "Virtual" or "VMware", else
// 0, and one more when it contains "以太网" or "本地连接" (case-sensitive). The
// highest score wins; on equal scores the earlier adapter stays.
std::string ChooseMachineId(const std::vector<NetworkAdapterFacts>& adapters);

// Lists the adapters with GetAdaptersAddresses and stores the chosen address
// (cut to 39 characters) in `id`. When the adapters cannot be listed, `id`
// becomes "invaid" and the result is false; otherwise true (also when no
// adapter qualified and `id` is empty).
bool CollectMachineId(std::string& id);
