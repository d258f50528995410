// The wire form of a statistics point: the JSON record, the request body that
// carries it and the service's answer.
#pragma once

#include <json/value.h>

#include <string>

// What every point of a run says about the installation and the machine.
// Empty texts and zero numbers until the context is loaded.
struct StatContext {
    int installedVersion = 0;
    std::wstring installedVersionName;  // at most 31 characters
    std::wstring appCode;               // at most 39 characters
    int domain = 0;
    int newVersion = 0;
    std::wstring newVersionName;  // at most 31 characters
    std::string osName;           // at most 39 characters
    std::string machineId;        // at most 39 characters
};

// The extra fields every point starts with: s_t (system name), l_ver
// (installed version), r_ver (new version), r_vn (new version name, UTF-8)
// and is_update (1).
Json::Value StatBaseFields(const StatContext& context);

// The wire record of point `name` with extra fields `extra`: ac, av, d, dur,
// e, i, oct, pro, pt, rid, plus ct, pc and rpc for the known application
// codes. `timeStamp` is the text of both oct and pt.
Json::Value BuildStatRecord(const StatContext& context, const std::string& name, const Json::Value& extra,
                            const std::string& timeStamp);

// The time stamp of a point: the current time in whole seconds since 1970
// times 1000, plus the millisecond field of the local system time, as text.
std::string StatTimeStamp();

// The record as compact JSON text (members sorted by key, no blanks, non-ASCII
// left as UTF-8) followed by one line feed.
std::string WriteStatRecord(const Json::Value& record);

// The request body for `jsonText`: "multi=" + Base64 of the text with every
// "+" written as "%2B" and every "/" as "%2F" + "&v=1.0". False when no memory
// is available.
bool BuildStatBody(const std::string& jsonText, std::string& body);

// True exactly when `response` is a JSON object whose member "error" is the
// number 0; a missing member counts as 1, anything unparsable as failure.
bool IsDeliveredAnswer(const std::string& response);
