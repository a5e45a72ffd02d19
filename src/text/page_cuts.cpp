#include "text/page_cuts.h"

#include "text/gbk.h"
#include "text/text.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cctype>
#include <vector>

namespace qiv {
namespace {

const char kValueStart[] = "value=\"";
const char kStateStart[] = "name=\"State\" value=\"";

// A row of the account form: its label and the text that ends the row.
struct Row {
    Text start, end;
};

// The account page's markers, converted to GBK once.
struct AccountMarkers {
    Text start = gbk("<b><br>修改资料");
    // One leading ASCII space and a lower-case "url".
    Text end = gbk(" 隐藏真实url后地址栏将一直显示您的域名");
    Row title{gbk(">主页名称:</td>"), "name="};
    Row sendUrl{gbk(">转向地址:</td>"), "name="};
    Text stateEnd = gbk("\">是否隐藏真实URL？");
    Row email{gbk(">站长EMAIL:</td>"), "name="};
    Row regName{gbk(">注册人姓名:</td>"), "readonly"};
    Row linkTel{gbk(">联系电话:</td>"), gbk("必填，包括区号")};
    Row address{gbk(">联系地址:</td>"), "Address"};
};

Text cell(std::string_view section, const Row& row)
{
    return textBetween(textBetween(section, row.start, row.end), kValueStart, "\"");
}

// Whether the row's label, its end text behind it, and value="..." between
// the two all stand in the section.
bool cellFound(std::string_view section, const Row& row)
{
    size_t label = section.find(row.start);
    if (label == std::string_view::npos)
        return false;
    std::string_view rest = section.substr(label + row.start.size());
    std::string_view cellText = rest.substr(0, rest.find(row.end));
    if (cellText.size() == rest.size())
        return false;
    size_t value = cellText.find(kValueStart);
    return value != std::string_view::npos &&
           cellText.find('"', value + sizeof kValueStart - 1) != std::string_view::npos;
}

// The rows as the strict reading names them in its messages.
struct NamedRow {
    const Row* row;
    Text AccountSnapshot::*field;
    const char* name;
};

bool isNameByte(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_' || c == ':' || c == '.';
}

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f';
}

// Whether `name` (lower case) is an attribute an input element of a real
// page carries: the element's own, the global ones, event handlers and
// data-/aria- attributes.
bool isInputAttribute(std::string_view name)
{
    static constexpr std::string_view known[] = {
        "accept",
        "accesskey",
        "alt",
        "autocapitalize",
        "autocomplete",
        "autofocus",
        "checked",
        "class",
        "dir",
        "dirname",
        "disabled",
        "enterkeyhint",
        "form",
        "formaction",
        "formenctype",
        "formmethod",
        "formnovalidate",
        "formtarget",
        "height",
        "hidden",
        "id",
        "inputmode",
        "lang",
        "list",
        "max",
        "maxlength",
        "min",
        "minlength",
        "multiple",
        "name",
        "pattern",
        "placeholder",
        "readonly",
        "required",
        "role",
        "size",
        "spellcheck",
        "src",
        "step",
        "style",
        "tabindex",
        "title",
        "translate",
        "type",
        "width",
    };
    if (name.starts_with("on") || name.starts_with("data-") || name.starts_with("aria-"))
        return name.size() > 5 || (name.starts_with("on") && name.size() > 2);
    return std::find(std::begin(known), std::end(known), name) != std::end(known);
}

// Whether `rest`, the text behind a value's closing quote, goes on as the
// tag's markup: attributes (bare, or name= and a quoted or plain value),
// each a real input attribute given once and none a second value, up to
// the tag's ">" or "/>". A quote inside the value leaves its tail here, and
// that tail is no such markup. A tail that is (`a" size="9`) cannot be told
// from a page's own attribute.
bool closesTag(std::string_view rest)
{
    std::vector<std::string> seen{"value"};
    size_t at = 0;
    if (at < rest.size() && !isSpace(rest[at]) && rest[at] != '>' && rest[at] != '/')
        return false;
    for (;;) {
        while (at < rest.size() && isSpace(rest[at]))
            ++at;
        if (at >= rest.size())
            return false;
        if (rest[at] == '>' || rest.substr(at, 2) == "/>")
            return true;
        const size_t name = at;
        while (at < rest.size() && isNameByte(rest[at]))
            ++at;
        if (at == name)
            return false;
        const std::string attribute = asciiLower(rest.substr(name, at - name));
        if (!isInputAttribute(attribute) ||
            std::find(seen.begin(), seen.end(), attribute) != seen.end())
            return false;
        seen.push_back(attribute);
        if (at >= rest.size() || rest[at] != '=') {
            if (at < rest.size() && !isSpace(rest[at]) && rest[at] != '>' && rest[at] != '/')
                return false;
            continue;
        }
        ++at;
        if (at < rest.size() && (rest[at] == '"' || rest[at] == '\'')) {
            const size_t close = rest.find(rest[at], at + 1);
            if (close == std::string_view::npos)
                return false;
            at = close + 1;
            if (at < rest.size() && !isSpace(rest[at]) && rest[at] != '>' && rest[at] != '/')
                return false;
        } else {
            const size_t plain = at;
            while (at < rest.size() && !isSpace(rest[at]) && rest[at] != '>' && rest[at] != '"' &&
                   rest[at] != '\'' && rest[at] != '<' && rest[at] != '=' && rest[at] != '`')
                ++at;
            if (at == plain)
                return false;
        }
    }
}

// The first character reference in `value` (&name; &#N; &#xN;); empty when
// there is none. '&' is never part of a GBK character, nor are the ASCII
// bytes straight behind it.
std::string_view characterReference(std::string_view value)
{
    for (size_t at = value.find('&'); at != std::string_view::npos; at = value.find('&', at + 1)) {
        size_t end = at + 1;
        auto run = [&](auto accept) {
            const size_t from = end;
            while (end < value.size() && accept(value[end]))
                ++end;
            return end > from;
        };
        bool body = false;
        if (end < value.size() && value[end] == '#') {
            ++end;
            if (end < value.size() && (value[end] == 'x' || value[end] == 'X')) {
                ++end;
                body = run([](char c) { return std::isxdigit(static_cast<unsigned char>(c)); });
            } else {
                body = run([](char c) { return c >= '0' && c <= '9'; });
            }
        } else {
            body = run([](char c) { return std::isalnum(static_cast<unsigned char>(c)); });
        }
        if (body && end < value.size() && value[end] == ';')
            return value.substr(at, end + 1 - at);
    }
    return {};
}

// What keeps one row of the section from being read strictly; empty when
// nothing does.
std::string strictRowProblem(std::string_view section, const NamedRow& named,
                             const AccountSnapshot& values)
{
    const std::string what = std::string("the value of ") + named.name;
    if (!cellFound(section, *named.row))
        return what + " was not found between its row's markers";
    const size_t label = section.find(named.row->start);
    const size_t start =
        section.find(kValueStart, label + named.row->start.size()) + sizeof kValueStart - 1;
    const size_t quote = section.find('"', start);
    const std::string_view value = section.substr(start, quote - start);
    if (value != values.*named.field || !closesTag(section.substr(quote + 1)))
        return what + " holds a double quote the page does not escape, so where it ends "
                      "cannot be told";
    if (const std::string_view reference = characterReference(value); !reference.empty())
        // A name of any length is a reference; the message shows its start.
        return what + " holds the character reference " + std::string(reference.substr(0, 32)) +
               (reference.size() > 32 ? "..." : "") +
               ", which the service may or may not decode, so sending it back could change "
               "it; the account is not followed until the reference is removed from " +
               named.name;
    return {};
}

// Visits the pieces textSplit gives, in order, until `visit` returns false,
// without building the list: a reply of nothing but delimiters would make
// millions of pieces.
template <typename Visit>
void forEachPiece(std::string_view text, std::string_view delimiter, Visit visit)
{
    size_t from = 0;
    for (;;) {
        size_t at = text.find(delimiter, from);
        bool last = at == std::string_view::npos;
        if (!visit(text.substr(from, last ? std::string_view::npos : at - from)) || last)
            return;
        from = at + delimiter.size();
    }
}

// Why the section is not read whole by the strict rule; empty when it is.
std::string strictProblem(std::string_view section, const AccountPage& cut, const AccountMarkers& m)
{
    if (!cut.hasSection)
        return "the account section or its end marker is missing";
    const NamedRow rows[] = {
        {&m.title, &AccountSnapshot::Title, "Title"},
        {&m.sendUrl, &AccountSnapshot::SendUrl, "SendUrl"},
        {&m.email, &AccountSnapshot::EmailAdr, "EmailAdr"},
        {&m.regName, &AccountSnapshot::RegName, "RegName"},
        {&m.linkTel, &AccountSnapshot::LinkTel, "LinkTel"},
        {&m.address, &AccountSnapshot::Address, "Address"},
    };
    for (const NamedRow& row : rows)
        if (std::string problem = strictRowProblem(section, row, cut.values); !problem.empty())
            return problem;
    if (!cut.hasHideRow)
        return section.find(kStateStart) == std::string_view::npos
                   ? "the hide flag (State) row is missing"
                   : "the hide flag (State) has no end marker " + gbkToUtf8(m.stateEnd);
    return {};
}

} // namespace

Text gbkPrefix(std::string_view text, std::size_t maxBytes)
{
    if (text.size() <= maxBytes)
        return Text(text);
    // A lead byte (0x81 and above) and the byte behind it are one character.
    size_t end = 0;
    while (end < text.size()) {
        size_t step = static_cast<unsigned char>(text[end]) >= 0x81 ? 2 : 1;
        if (end + step > maxBytes)
            break;
        end += step;
    }
    return Text(text.substr(0, end));
}

AccountPage cutAccountPage(std::string_view page, AccountReading reading)
{
    // Never destroyed: the background thread may still cut while the process
    // exits.
    static const AccountMarkers& m = *new AccountMarkers;
    AccountPage result;
    Text section = textBetween(page, m.start, m.end);
    size_t at = page.find(m.start);
    result.hasSection = at != std::string_view::npos &&
                        page.find(m.end, at + m.start.size()) != std::string_view::npos;
    AccountSnapshot& v = result.values;
    v.Title = cell(section, m.title);
    v.SendUrl = cell(section, m.sendUrl);
    result.state = textBetween(section, kStateStart, m.stateEnd);
    v.EmailAdr = cell(section, m.email);
    v.RegName = cell(section, m.regName);
    v.LinkTel = cell(section, m.linkTel);
    v.Address = cell(section, m.address);
    result.allValues = result.hasSection && cellFound(section, m.title) &&
                       cellFound(section, m.sendUrl) && cellFound(section, m.email) &&
                       cellFound(section, m.regName) && cellFound(section, m.linkTel) &&
                       cellFound(section, m.address);
    const size_t stateStart = section.find(kStateStart);
    result.hasHideRow = stateStart != std::string_view::npos &&
                        section.find(m.stateEnd, stateStart) != std::string_view::npos;
    if (reading == AccountReading::Strict)
        result.problem = strictProblem(section, result, m);
    return result;
}

bool cutDomainSuffixes(std::string_view page, std::vector<Text>& suffixes)
{
    suffixes.clear();
    Text list = textBetween(page, "domainname\">", "</select>");
    if (textFind(list, "<option") == -1)
        return false;
    forEachPiece(list, "<option", [&suffixes](std::string_view piece) {
        Text value = textBetween(piece, "value='", "'>");
        // A longer value is no domain name: skipped, not cut into a suffix the
        // service does not have.
        if (!value.empty() && value.size() <= kMaxSuffixBytes)
            suffixes.push_back(std::move(value));
        return suffixes.size() < kMaxSuffixes;
    });
    return true;
}

Text cutUserCount(std::string_view reply)
{
    return gbkPrefix(textBetween(reply, "document.write('", "');"), kMaxShownBytes);
}

Text cutModifyAlert(std::string_view reply)
{
    return gbkPrefix(textBetween(reply, "alert('", "');"), kMaxShownBytes);
}

bool isPublicIpReply(std::string_view reply)
{
    std::string address = textTrim(reply, " \t\r\n\f\v");
    if (address.empty() || address.find('\0') != std::string::npos)
        return false;
    unsigned char buffer[sizeof(in6_addr)];
    return inet_pton(AF_INET, address.c_str(), buffer) == 1 ||
           inet_pton(AF_INET6, address.c_str(), buffer) == 1;
}

Text registrationFailureMessage(std::string_view reply)
{
    static const Text& heading = *new Text(gbk("申请域名失败......\r\n"));
    static const Text& start = *new Text(gbk("<p>出错的原因："));
    static const Text& end = *new Text(gbk("返回上一步重新填写"));
    Text message = heading;
    Text section = textBetween(reply, start, end);
    // Each reason is a list item followed by a line break, so after the split
    // it stands in a piece "li>reason<br".
    size_t reasons = 0;
    forEachPiece(section, "><", [&](std::string_view piece) {
        Text reason = textBetween(piece, "li>", "<br");
        if (!reason.empty()) {
            // The start of an overlong reason still says what is wrong.
            message += "\r\n* " + gbkPrefix(reason, kMaxReasonBytes);
            ++reasons;
        }
        return reasons < kMaxReasons;
    });
    return message;
}

} // namespace qiv
