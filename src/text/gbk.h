#pragma once

#include <optional>
#include <string>
#include <string_view>

// The one place where GBK bytes (the service's code page 936) meet Unicode.
// Every text of the service layer is a GBK byte string; the window and the
// rest of the platform speak UTF-8 / UTF-16.
namespace qiv {

// UTF-8 to GBK. Returns nothing when the input holds a character GBK cannot
// represent, or is not valid UTF-8: such text is never replaced silently.
std::optional<std::string> utf8ToGbk(std::string_view utf8);

// GBK to UTF-8. A byte sequence that is not valid GBK becomes U+FFFD and the
// conversion goes on with the next byte, so any reply a server sends can be
// shown.
std::string gbkToUtf8(std::string_view gbk);

// A UTF-8 text of the program's own (a literal) as GBK bytes. All of them
// are representable; one that is not is a bug, and the program stops.
std::string gbk(std::string_view utf8);

} // namespace qiv
