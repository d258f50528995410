#include "diag/base64.h"

#include <new>

namespace {
constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
}  // namespace

bool Base64Encode(size_t length, const unsigned char* data, std::string& encoded) {
    encoded.clear();
    if (data == nullptr && length != 0) return false;
    try {
        encoded.reserve((length + 2) / 3 * 4);
    } catch (const std::bad_alloc&) {
        return false;
    }
    size_t i = 0;
    for (; i + 3 <= length; i += 3) {
        const unsigned v = (data[i] << 16) | (data[i + 1] << 8) | data[i + 2];
        encoded.push_back(kAlphabet[(v >> 18) & 63]);
        encoded.push_back(kAlphabet[(v >> 12) & 63]);
        encoded.push_back(kAlphabet[(v >> 6) & 63]);
        encoded.push_back(kAlphabet[v & 63]);
    }
    const size_t rest = length - i;
    if (rest > 0) {
        const unsigned v = (data[i] << 16) | (rest == 2 ? data[i + 1] << 8 : 0);
        encoded.push_back(kAlphabet[(v >> 18) & 63]);
        encoded.push_back(kAlphabet[(v >> 12) & 63]);
        encoded.push_back(rest == 2 ? kAlphabet[(v >> 6) & 63] : '=');
        encoded.push_back('=');
    }
    return true;
}
