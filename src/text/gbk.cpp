#include "text/gbk.h"

#include <cerrno>
#include <cstdlib>
#include <iconv.h>

namespace qiv {
namespace {

// iconv descriptors are not shareable between threads; each call opens its
// own. "GBK" in glibc is code page 936 (with the euro sign at 0x80).
class Converter {
public:
    Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Converter()
    {
        if (ok())
            iconv_close(cd_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

    // Converts as much as it can; stops at the first bad sequence and
    // leaves `in` there.
    size_t run(std::string_view& in, std::string& out)
    {
        char buffer[4096];
        size_t result = 0;
        while (!in.empty()) {
            char* src = const_cast<char*>(in.data());
            size_t srcLeft = in.size();
            char* dst = buffer;
            size_t dstLeft = sizeof buffer;
            result = iconv(cd_, &src, &srcLeft, &dst, &dstLeft);
            int error = errno;
            out.append(buffer, sizeof buffer - dstLeft);
            in.remove_prefix(in.size() - srcLeft);
            if (result != static_cast<size_t>(-1))
                continue;
            if (error == E2BIG)
                continue;
            return static_cast<size_t>(-1);
        }
        return 0;
    }

private:
    iconv_t cd_;
};

} // namespace

std::optional<std::string> utf8ToGbk(std::string_view utf8)
{
    Converter conv("GBK", "UTF-8");
    if (!conv.ok())
        return std::nullopt;
    std::string out;
    out.reserve(utf8.size());
    std::string_view input = utf8;
    if (conv.run(input, out) != 0)
        return std::nullopt;
    // glibc skips some characters instead of failing on them (the Unicode
    // tag characters, for one): only bytes that read back as the same text
    // count as its GBK form.
    if (gbkToUtf8(out) != utf8)
        return std::nullopt;
    return out;
}

std::string gbkToUtf8(std::string_view gbk)
{
    Converter conv("UTF-8", "GBK");
    std::string out;
    out.reserve(gbk.size() * 3 / 2);
    if (!conv.ok())
        return out;
    while (conv.run(gbk, out) != 0) {
        // An invalid or truncated sequence: one replacement character for
        // its first byte, then carry on.
        out += "\xEF\xBF\xBD";
        gbk.remove_prefix(1);
    }
    return out;
}

std::string gbk(std::string_view utf8)
{
    std::optional<std::string> bytes = utf8ToGbk(utf8);
    if (!bytes)
        std::abort();
    return *bytes;
}

} // namespace qiv
