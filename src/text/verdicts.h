#pragma once

#include <string_view>

// The verdicts on the replies of the check, the registration and the
// deletion: each looks for its one marker anywhere in the reply, byte for
// byte. A reply without it, the empty one included, is the other outcome.
namespace qiv {

// The name check: the name is free ("该域名可以注册！").
bool isNameFreeReply(std::string_view reply);

// The registration: the domain was registered ("您的域名已注册成功").
bool isRegisteredReply(std::string_view reply);

// The modification with delinfo: the domain was deleted ("{MBuffer}").
bool isDeletedReply(std::string_view reply);

} // namespace qiv
