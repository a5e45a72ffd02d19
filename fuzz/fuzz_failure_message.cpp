// The error-reason cut of a failed registration. Any reply: the message is
// the heading followed by "\r\n* " lines whose texts are parts of the
// reply. A reply written like the service's: exactly its reasons, in order.

#include "fuzz_check.h"
#include "text/gbk.h"
#include "text/page_cuts.h"

#include <fuzzer/FuzzedDataProvider.h>

using qiv::fuzz::require;

namespace {

std::string g(const char* utf8)
{
    return *qiv::utf8ToGbk(utf8);
}

const std::string& heading()
{
    static const std::string text = g("申请域名失败......\r\n");
    return text;
}

void checkAnyReply(std::string_view reply)
{
    std::string message = qiv::registrationFailureMessage(reply);
    require(message.starts_with(heading()), "message starts with the heading");
    std::string_view rest = std::string_view(message).substr(heading().size());
    // Split at the line marks; a reason may itself hold one, and then its
    // pieces are still parts of the reply.
    const std::string_view mark = "\r\n* ";
    require(rest.empty() || rest.starts_with(mark), "reasons start on a marked line");
    size_t from = 0;
    while (from < rest.size()) {
        size_t next = rest.find(mark, from + mark.size());
        std::string_view piece =
            rest.substr(from + mark.size(),
                        (next == std::string_view::npos ? rest.size() : next) - from - mark.size());
        require(qiv::fuzz::contains(reply, piece), "reason is a part of the reply");
        if (next == std::string_view::npos)
            break;
        from = next;
    }
}

void checkWrittenReply(FuzzedDataProvider& input)
{
    std::vector<std::string> reasons;
    size_t count = input.ConsumeIntegralInRange<size_t>(0, 9);
    for (size_t i = 0; i < count; ++i) {
        std::string bytes = input.ConsumeRandomLengthString(20);
        // ASCII without tag brackets, and GBK double bytes, whose bytes are
        // all 0x81 or above.
        std::string reason;
        for (char c : bytes) {
            auto b = static_cast<unsigned char>(c);
            if (b >= 0xB0 && b <= 0xD7) {
                reason += c;
                reason += static_cast<char>(0xA1 + (b & 0x3F));
            } else {
                reason += qiv::fuzz::safeText(std::string(1, c), "abcdefghijklmXYZ0123456789 .,");
            }
        }
        reasons.push_back(reason);
    }
    static const std::string head = g("<html><body><table><tr><td><p>出错的原因：</p><ul>");
    static const std::string tail = g("</ul><p><a href=\"javascript:history.back()\">"
                                      "返回上一步重新填写</a></p></td></tr></table></body></html>");
    std::string reply = head;
    for (const std::string& r : reasons)
        reply += "<li>" + r + "<br>";
    reply += tail;

    std::string expected = heading();
    for (const std::string& r : reasons)
        if (!r.empty())
            expected += "\r\n* " + r;
    require(qiv::registrationFailureMessage(reply) == expected, "the reasons read back in order");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    checkAnyReply(qiv::fuzz::view(data, size));
    FuzzedDataProvider input(data, size);
    checkWrittenReply(input);
    return 0;
}
