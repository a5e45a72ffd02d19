// textBetween over arbitrary text and markers, against a direct model of
// what it promises: the bytes after the first start marker (or, when it is
// absent, from byte length(start) - 1) up to the first end marker there.

#include "fuzz_check.h"
#include "text/text.h"

#include <fuzzer/FuzzedDataProvider.h>

using qiv::fuzz::require;

namespace {

std::string model(std::string_view text, std::string_view start, std::string_view end)
{
    // 0-based index where the search for `end` begins; negative means the
    // rest is empty.
    long from;
    size_t at = text.find(start);
    if (at != std::string_view::npos)
        from = static_cast<long>(at + start.size());
    else
        from = static_cast<long>(start.size()) - 2;
    if (from < 0 || from >= static_cast<long>(text.size()))
        return {};
    std::string_view rest = text.substr(static_cast<size_t>(from));
    size_t q = rest.find(end);
    if (q == std::string_view::npos)
        return {};
    return std::string(rest.substr(0, q));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    std::string start = input.ConsumeRandomLengthString(16);
    std::string end = input.ConsumeRandomLengthString(16);
    std::string text = input.ConsumeRemainingBytesAsString();

    std::string between = qiv::textBetween(text, start, end);
    require(qiv::fuzz::contains(text, between), "result is a part of the text");
    require(between.size() < text.size() || text.empty(), "result is shorter than the text");
    require(between == model(text, start, end), "result matches the model");

    // A text built around a value without either marker gives the value back.
    if (!start.empty() && !end.empty() && !qiv::fuzz::contains(text, start) &&
        !qiv::fuzz::contains(text, end)) {
        std::string built = start + text + end;
        // The end marker may still begin inside the text's tail.
        if (built.find(end, start.size()) == start.size() + text.size())
            require(qiv::textBetween(built, start, end) == text, "value between markers");
    }
    return 0;
}
