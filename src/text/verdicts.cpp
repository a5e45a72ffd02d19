#include "text/verdicts.h"

#include "text/text.h"

namespace qiv {
namespace {

bool holds(std::string_view reply, std::string_view marker)
{
    return reply.find(marker) != std::string_view::npos;
}

} // namespace

bool isNameFreeReply(std::string_view reply)
{
    static const Text& marker = *new Text(gbk("该域名可以注册！"));
    return holds(reply, marker);
}

bool isRegisteredReply(std::string_view reply)
{
    static const Text& marker = *new Text(gbk("您的域名已注册成功"));
    return holds(reply, marker);
}

bool isDeletedReply(std::string_view reply)
{
    return holds(reply, "{MBuffer}");
}

} // namespace qiv
