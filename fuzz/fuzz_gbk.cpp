// The GBK boundary. GBK to UTF-8 always yields valid UTF-8 of bounded size;
// valid GBK survives the way there and back; UTF-8 that converts to GBK
// comes back unchanged; ASCII passes through both ways untouched.

#include "fuzz_check.h"
#include "text/gbk.h"

using qiv::fuzz::require;

namespace {

bool validUtf8(std::string_view s)
{
    size_t i = 0;
    while (i < s.size()) {
        auto b = static_cast<unsigned char>(s[i]);
        size_t n;
        uint32_t cp;
        if (b < 0x80) {
            ++i;
            continue;
        } else if (b >= 0xC2 && b <= 0xDF) {
            n = 1;
            cp = b & 0x1F;
        } else if (b >= 0xE0 && b <= 0xEF) {
            n = 2;
            cp = b & 0x0F;
        } else if (b >= 0xF0 && b <= 0xF4) {
            n = 3;
            cp = b & 0x07;
        } else {
            return false;
        }
        for (size_t k = 1; k <= n; ++k) {
            if (i + k >= s.size())
                return false;
            auto c = static_cast<unsigned char>(s[i + k]);
            if ((c & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (c & 0x3F);
        }
        if ((n == 2 && cp < 0x800) || (n == 3 && (cp < 0x10000 || cp > 0x10FFFF)) ||
            (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += n + 1;
    }
    return true;
}

bool isAscii(std::string_view s)
{
    for (char c : s)
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string_view bytes = qiv::fuzz::view(data, size);

    // The bytes as a server's GBK reply.
    std::string utf8 = qiv::gbkToUtf8(bytes);
    require(validUtf8(utf8), "GBK to UTF-8 gives valid UTF-8");
    require(utf8.size() <= 3 * bytes.size(), "at most three UTF-8 bytes per GBK byte");
    if (isAscii(bytes))
        require(utf8 == bytes, "ASCII passes GBK to UTF-8 unchanged");
    bool replaced = utf8.find("\xEF\xBF\xBD") != std::string::npos;
    if (!replaced) {
        std::optional<std::string> back = qiv::utf8ToGbk(utf8);
        require(back.has_value(), "converted valid GBK converts back");
        require(*back == bytes, "valid GBK round-trips");
    }

    // The bytes as UTF-8 from the window.
    std::optional<std::string> gbk = qiv::utf8ToGbk(bytes);
    if (!validUtf8(bytes))
        require(!gbk.has_value(), "invalid UTF-8 is refused");
    if (isAscii(bytes))
        require(gbk == std::optional<std::string>(std::string(bytes)), "ASCII passes to GBK");
    if (gbk) {
        require(qiv::gbkToUtf8(*gbk) == bytes, "UTF-8 held by GBK round-trips");
        require(gbk->size() <= bytes.size(), "GBK is never longer than its UTF-8");
    }
    return 0;
}
