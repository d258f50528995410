// Strict readers of the Content-Length and Content-Range texts.
#include "net/response_size.h"

namespace {

constexpr size_t kMaxDigits = 19;  // 10^19 - 1 still fits in 63 bits

}  // namespace

std::optional<uint64_t> ParseByteCount(const std::wstring& text) {
    if (text.empty() || text.size() > kMaxDigits) return std::nullopt;
    uint64_t value = 0;
    for (wchar_t c : text) {
        if (c < L'0' || c > L'9') return std::nullopt;
        value = value * 10 + static_cast<uint64_t>(c - L'0');
    }
    return value;
}

std::optional<ContentRange> ParseContentRange(const std::wstring& text) {
    const std::wstring unit = L"bytes ";
    if (text.compare(0, unit.size(), unit) != 0) return std::nullopt;
    const size_t dash = text.find(L'-', unit.size());
    const size_t slash = text.find(L'/', unit.size());
    if (dash == std::wstring::npos || slash == std::wstring::npos || slash < dash) return std::nullopt;
    const auto first = ParseByteCount(text.substr(unit.size(), dash - unit.size()));
    const auto last = ParseByteCount(text.substr(dash + 1, slash - dash - 1));
    if (!first || !last || *first > *last) return std::nullopt;
    ContentRange range{*first, *last, std::nullopt};
    const std::wstring total = text.substr(slash + 1);
    if (total == L"*") return range;
    range.total = ParseByteCount(total);
    if (!range.total || *range.total <= *last) return std::nullopt;
    return range;
}
