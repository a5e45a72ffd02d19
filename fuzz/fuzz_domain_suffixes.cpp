// The suffix-list cut. Any page: a failed read leaves no suffixes, and every
// suffix read is a non-empty part of the page. A list written like the
// service's suffix page: the cut reads back exactly its non-empty values.

#include "fuzz_check.h"
#include "text/page_cuts.h"

#include <fuzzer/FuzzedDataProvider.h>

using qiv::fuzz::require;

namespace {

void checkAnyPage(std::string_view page)
{
    std::vector<qiv::Text> suffixes{"left over"};
    bool ok = qiv::cutDomainSuffixes(page, suffixes);
    if (!ok)
        require(suffixes.empty(), "a failed read leaves no suffixes");
    else
        require(qiv::fuzz::contains(page, "<option"), "a list has an option");
    for (const qiv::Text& suffix : suffixes) {
        require(!suffix.empty(), "suffix is not empty");
        require(qiv::fuzz::contains(page, suffix), "suffix is a part of the page");
        require(!qiv::fuzz::contains(suffix, "'>"), "suffix holds no closing quote");
    }
}

void checkWrittenPage(FuzzedDataProvider& input)
{
    std::vector<std::string> written;
    size_t count = input.ConsumeIntegralInRange<size_t>(0, 8);
    for (size_t i = 0; i < count; ++i) {
        std::string bytes = input.ConsumeRandomLengthString(12);
        written.push_back(qiv::fuzz::safeText(bytes, "abcdefghijklmnopqrstuvwxyz0123456789.-"));
    }
    std::string page = "<html><select name=\"username\"><option value='x.y'>no</option></select>"
                       "<select name=\"domainname\">";
    for (const std::string& s : written)
        page += "<option value='" + s + "'>" + s + "</option>";
    page += "</select><select><option value='z.z'>no</option></select></html>";

    std::vector<qiv::Text> suffixes;
    bool ok = qiv::cutDomainSuffixes(page, suffixes);
    require(ok == !written.empty(), "the list reads exactly when it has options");
    std::vector<std::string> expected;
    for (const std::string& s : written)
        if (!s.empty())
            expected.push_back(s);
    require(suffixes == expected, "the non-empty values read back in order");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    checkAnyPage(qiv::fuzz::view(data, size));
    FuzzedDataProvider input(data, size);
    checkWrittenPage(input);
    return 0;
}
