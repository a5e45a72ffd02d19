#pragma once

#include "markers.h"
#include "test_support.h"

#include <string>
#include <vector>

// How the client reads each reply: only by cutting between marker texts.
// The server's pages must give every value back through these cuts.
namespace qiv::devserver::test {

struct AccountView {
    std::string title, sendUrl, email, regName, linkTel, address;
    std::string stateText; // "1" exactly when the client unticks its hide box
};

inline AccountView readAccountPage(const std::string& page)
{
    using namespace markers;
    const std::string section = textBetween(page, kSectionStart, kSectionEnd);
    auto row = [&](std::string_view label, std::string_view end) {
        return textBetween(textBetween(section, label, end), "value=\"", "\"");
    };
    AccountView v;
    v.title = row(kTitleLabel, "name=");
    v.sendUrl = row(kSendUrlLabel, "name=");
    v.stateText = textBetween(section, "name=\"State\" value=\"", kStateEnd);
    v.email = row(kEmailLabel, "name=");
    v.regName = row(kRegNameLabel, "readonly");
    v.linkTel = row(kLinkTelLabel, kLinkTelEnd);
    v.address = row(kAddressLabel, "Address");
    return v;
}

inline std::vector<std::string> readReasons(const std::string& page)
{
    std::vector<std::string> reasons;
    for (const std::string& piece :
         split(textBetween(page, markers::kErrorStart, markers::kErrorEnd), "><")) {
        std::string reason = textBetween(piece, "li>", "<br");
        if (!reason.empty())
            reasons.push_back(reason);
    }
    return reasons;
}

inline std::vector<std::string> readSuffixes(const std::string& page)
{
    std::vector<std::string> out;
    for (const std::string& piece :
         split(textBetween(page, "domainname\">", "</select>"), "<option")) {
        std::string value = textBetween(piece, "value='", "'>");
        if (!value.empty())
            out.push_back(value);
    }
    return out;
}

inline std::string readCount(const std::string& page)
{
    return textBetween(page, "document.write('", "');");
}

inline std::string readAlert(const std::string& page)
{
    return textBetween(page, "alert('", "');");
}

} // namespace qiv::devserver::test
