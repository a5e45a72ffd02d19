// The account-page cut. Any page: every text read is a part of the page and
// a cell value never holds its closing quote. A page written like the
// service's, with generated values: the cut reads back exactly those values.

#include "fuzz_check.h"
#include "text/gbk.h"
#include "text/page_cuts.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <array>
#include <vector>

using qiv::fuzz::require;

namespace {

std::string g(const char* utf8)
{
    return *qiv::utf8ToGbk(utf8);
}

// Pieces a generated value is made of: ASCII that cannot spell any row's end
// text ("name=", "readonly", "Address") or a quote, and Chinese characters
// whose GBK bytes never line up into a marker.
const std::vector<std::string>& pieces()
{
    static const std::vector<std::string> list = [] {
        std::vector<std::string> out;
        for (char c : std::string_view("abcdefghijklm0123456789 .@-_:/?&"))
            out.emplace_back(1, c);
        for (const char* word : {"张", "三", "李", "四", "上", "海", "€"})
            out.push_back(g(word));
        return out;
    }();
    return list;
}

std::string value(FuzzedDataProvider& input)
{
    std::string out;
    size_t count = input.ConsumeIntegralInRange<size_t>(0, 12);
    for (size_t i = 0; i < count; ++i)
        out += pieces()[input.ConsumeIntegralInRange<size_t>(0, pieces().size() - 1)];
    return out;
}

void checkAnyPage(std::string_view page)
{
    qiv::AccountPage cut = qiv::cutAccountPage(page);
    const qiv::AccountSnapshot& v = cut.values;
    for (const std::string* text :
         {&v.Title, &v.SendUrl, &v.EmailAdr, &v.RegName, &v.LinkTel, &v.Address}) {
        require(qiv::fuzz::contains(page, *text), "account value is a part of the page");
        require(text->find('"') == std::string::npos, "account value holds no quote");
    }
    require(qiv::fuzz::contains(page, cut.state), "state is a part of the page");
    if (cut.hasSection)
        require(qiv::fuzz::contains(page, g("<b><br>修改资料")), "section has its start");
}

// The service's account page around six values and the hide box, in GBK;
// converted once, as the conversion is slow next to the cut.
struct Template {
    std::string head = g("<html><body><form name=\"form1\" method=\"post\" "
                         "action=\"modify_in.php\"><table><tr><td colspan=\"2\"><b><br>"
                         "修改资料 http://a.qiv.cn</b></td></tr>\r\n");
    std::array<std::string, 6> before = {row("主页名称:"),   row("转向地址:"), row("站长EMAIL:"),
                                         row("注册人姓名:"), row("联系电话:"), row("联系地址:")};
    std::array<std::string, 6> after = {g("\" name=\"Title\"></td></tr>\r\n"),
                                        g("\" name=\"SendUrl\"></td></tr>\r\n"),
                                        g("\" name=\"EmailAdr\"></td></tr>\r\n"),
                                        g("\" readonly name=\"RegName\"></td></tr>\r\n"),
                                        g("\" name=\"LinkTel\"> 必填，包括区号</td></tr>\r\n"),
                                        g("\" name=\"Address\"></td></tr>\r\n")};
    std::string box = g("<tr><td>转发方式:</td><td><input type=\"checkbox\" name=\"State\" "
                        "value=\"1\"");
    std::string tail = g(">是否隐藏真实URL？ 隐藏真实url后地址栏将一直显示您的域名</td></tr>\r\n"
                         "</table></form></body></html>");

    static std::string row(const char* label)
    {
        return g("<tr><td align=\"right\">") + g(label) +
               g("</td><td><input type=\"text\" size=\"40\" value=\"");
    }
};

void checkWrittenPage(FuzzedDataProvider& input)
{
    static const Template t;
    std::array<std::string, 6> v;
    for (std::string& one : v)
        one = value(input);
    bool hidden = input.ConsumeBool();
    std::string page = t.head;
    for (size_t i = 0; i < v.size(); ++i)
        page += t.before[i] + v[i] + t.after[i];
    page += t.box;
    if (hidden)
        page += " checked=\"checked\"";
    page += t.tail;

    qiv::AccountPage cut = qiv::cutAccountPage(page);
    require(cut.hasSection, "written page has the section");
    require(cut.values.Title == v[0], "Title read back");
    require(cut.values.SendUrl == v[1], "SendUrl read back");
    require(cut.values.EmailAdr == v[2], "EmailAdr read back");
    require(cut.values.RegName == v[3], "RegName read back");
    require(cut.values.LinkTel == v[4], "LinkTel read back");
    require(cut.values.Address == v[5], "Address read back");
    require((cut.state == "1") == !hidden, "state is 1 exactly when not hidden");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    checkAnyPage(qiv::fuzz::view(data, size));
    FuzzedDataProvider input(data, size);
    checkWrittenPage(input);
    return 0;
}
