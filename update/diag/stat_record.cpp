#include "diag/stat_record.h"

#include <windows.h>

#include <json/reader.h>
#include <json/writer.h>

#include <ctime>
#include <exception>
#include <memory>
#include <new>

#include "diag/base64.h"
#include "diag/utf8.h"

namespace {

struct AppCodeFields {
    const wchar_t* appCode;
    const char* ct;
    const char* pc;
    const char* rpc;
};

constexpr AppCodeFields kAppCodes[] = {
    {L"Velisk_Live_PC_Client", "win_exe", "com_module", "com_module"},
    {L"ZIVuzi", "web_nlive", "page_home", "page_home"},
    {L"VURer", "web_vurer", "page_home", "page_home"},
};

}  // namespace

Json::Value StatBaseFields(const StatContext& context) {
    Json::Value fields(Json::objectValue);
    fields["s_t"] = context.osName;
    fields["l_ver"] = context.installedVersion;
    fields["r_ver"] = context.newVersion;
    fields["r_vn"] = EncodeUtf8(context.newVersionName);
    fields["is_update"] = 1;
    return fields;
}

Json::Value BuildStatRecord(const StatContext& context, const std::string& name, const Json::Value& extra,
                            const std::string& timeStamp) {
    Json::Value record(Json::objectValue);
    record["ac"] = name;
    record["av"] = EncodeUtf8(context.installedVersionName);
    record["d"] = context.machineId;
    record["dur"] = 0;
    record["e"] = extra;
    record["i"] = 0;
    record["oct"] = timeStamp;
    record["pro"] = "host_site";
    record["pt"] = timeStamp;
    record["rid"] = 0;
    for (const auto& known : kAppCodes) {
        if (context.appCode == known.appCode) {
            record["ct"] = known.ct;
            record["pc"] = known.pc;
            record["rpc"] = known.rpc;
            break;
        }
    }
    return record;
}

std::string StatTimeStamp() {
    SYSTEMTIME local = {};
    ::GetLocalTime(&local);
    const long long ms = static_cast<long long>(std::time(nullptr)) * 1000 + local.wMilliseconds;
    return std::to_string(ms);
}

std::string WriteStatRecord(const Json::Value& record) {
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    builder["emitUTF8"] = true;
    return Json::writeString(builder, record) + "\n";
}

bool BuildStatBody(const std::string& jsonText, std::string& body) {
    std::string encoded;
    if (!Base64Encode(jsonText.size(), reinterpret_cast<const unsigned char*>(jsonText.data()), encoded)) {
        return false;
    }
    try {
        body.clear();
        body.reserve(encoded.size() + encoded.size() / 4 + 16);
        body += "multi=";
        for (const char c : encoded) {
            if (c == '+') {
                body += "%2B";
            } else if (c == '/') {
                body += "%2F";
            } else {
                body += c;
            }
        }
        body += "&v=1.0";
    } catch (const std::bad_alloc&) {
        body.clear();
        return false;
    }
    return true;
}

bool IsDeliveredAnswer(const std::string& response) {
    if (response.empty()) return false;
    Json::CharReaderBuilder builder;
    const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value root;
    std::string errors;
    try {
        if (!reader->parse(response.data(), response.data() + response.size(), &root, &errors)) return false;
    } catch (const std::exception&) {
        return false;  // for example nesting deeper than the reader allows
    }
    if (!root.isObject()) return false;
    const Json::Value error = root.get("error", 1);
    if (!error.isNumeric() || !error.isConvertibleTo(Json::intValue)) return false;
    return error.asInt() == 0;
}
