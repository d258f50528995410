#include "script_arguments.h"

#include <windows.h>

#include <json/reader.h>
#include <json/value.h>

#include <cstdint>
#include <cstdio>

namespace vantor {

namespace {

std::string ToAnsi(const wchar_t* text, size_t length) {
    if (length == 0) return {};
    const int n = ::WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    if (n <= 0) return {};
    std::string out(static_cast<size_t>(n), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(length), out.data(), n, nullptr, nullptr);
    return out;
}

std::wstring FromThreadAnsi(const std::string& text) {
    if (text.empty()) return {};
    const int n = ::MultiByteToWideChar(CP_THREAD_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (n <= 0) return {};
    std::wstring out(static_cast<size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_THREAD_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
    return out;
}

std::wstring FormatUnsigned(uint64_t value) {
    char buffer[32];
    std::snprintf(buffer, sizeof(buffer), "%lu", static_cast<unsigned long>(value));
    return FromThreadAnsi(buffer);
}

std::wstring FormatReal(double value) {
    const int n = std::snprintf(nullptr, 0, "%f", value);
    if (n <= 0) return {};
    std::string buffer(static_cast<size_t>(n) + 1, '\0');
    std::snprintf(buffer.data(), buffer.size(), "%f", value);
    buffer.resize(static_cast<size_t>(n));
    return FromThreadAnsi(buffer);
}

// The JSON reader refuses texts nested deeper than this (by throwing, which
// is slow through a thousand frames); such texts are refused here first.
constexpr int kMaxJsonNesting = 1000;

// True when arrays and objects in `text` nest deeper than kMaxJsonNesting
// (brackets inside strings do not count).
bool NestsTooDeep(const std::string& text) {
    int depth = 0;
    bool inString = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\') {
                ++i;
            } else if (c == '"') {
                inString = false;
            }
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > kMaxJsonNesting) return true;
        } else if (c == ']' || c == '}') {
            if (depth > 0) --depth;
        }
    }
    return false;
}

// One member value as an argument text; false when it has no text form.
bool ConvertMember(const Json::Value& value, std::wstring* out) {
    switch (value.type()) {
        case Json::stringValue:
            *out = FromThreadAnsi(value.asString());
            return true;
        case Json::realValue:
            *out = FormatReal(value.asDouble());
            return true;
        case Json::booleanValue:
            *out = value.asBool() ? L"1" : L"0";
            return true;
        case Json::intValue: {
            const Json::LargestInt v = value.asLargestInt();
            if (v < 0 || static_cast<uint64_t>(v) > UINT32_MAX) return false;
            *out = FormatUnsigned(static_cast<uint64_t>(v));
            return true;
        }
        case Json::uintValue: {
            const Json::LargestUInt v = value.asLargestUInt();
            if (v > UINT32_MAX) return false;
            *out = FormatUnsigned(v);
            return true;
        }
        default:  // null, array, object
            return false;
    }
}

}  // namespace

bool ConvertExecuteParameters(const std::wstring& funcName, const wchar_t* jsonParam, size_t length,
                              std::vector<std::wstring>* args) {
    args->clear();
    if (jsonParam == nullptr) return true;
    if (funcName == kPutFileFunction) {
        args->emplace_back(jsonParam, length);
        return true;
    }
    const std::string text = ToAnsi(jsonParam, length);
    if (text.empty()) return true;

    Json::Value root;
    bool parsed = false;
    if (!NestsTooDeep(text)) {
        try {
            Json::Reader reader;
            parsed = reader.parse(text, root);
        } catch (const std::exception&) {
            parsed = false;
        }
    }
    if (!parsed || !(root.isNull() || root.isObject())) {
        args->push_back(FromThreadAnsi(text));
        return true;
    }
    if (root.isNull()) return true;
    for (auto it = root.begin(); it != root.end(); ++it) {
        std::wstring converted;
        if (!ConvertMember(*it, &converted)) {
            args->clear();
            return false;
        }
        args->push_back(std::move(converted));
    }
    return true;
}

std::wstring WrapExecuteAnswer(const wchar_t* result) {
    return std::wstring(L"{\"r1\":\"") + (result != nullptr ? result : L"") + L"\"}";
}

bool BuildPagePayload(const std::wstring& name, const wchar_t* const* args, int count, std::wstring* payload) {
    if (count <= 0 || args == nullptr) return false;
    auto arg = [args](int i) -> const wchar_t* { return args[i] != nullptr ? args[i] : L""; };
    if (name == kGetFileFunction || (count == 1 && arg(0)[0] == L'{')) {
        *payload = arg(0);
        return true;
    }
    std::wstring text = L"{";
    for (int i = 0; i < count; ++i) {
        if (i > 0) text += L",";
        text += L"\"p" + std::to_wstring(i + 1) + L"\":\"" + arg(i) + L"\"";
    }
    text += L"}";
    *payload = std::move(text);
    return true;
}

}  // namespace vantor
