#pragma once

#include "test_support.h"

#include <string>

// The texts clients look for in the replies, as GBK bytes written out here
// (not converted by the server's own code), so a wrong encoding is caught.
namespace qiv::devserver::test::markers {

// 该域名可以注册！
inline const std::string kAvailable = fromHex("b8c3d3f2c3fbbfc9d2d4d7a2b2e1a3a1");
// 您的域名已注册成功
inline const std::string kRegistered = fromHex("c4fab5c4d3f2c3fbd2d1d7a2b2e1b3c9b9a6");
// <p>出错的原因：
inline const std::string kErrorStart = fromHex("3c703e b3f6b4edb5c4d4add2f2a3ba");
// 返回上一步重新填写
inline const std::string kErrorEnd = fromHex("b7b5bbd8c9cfd2bbb2bdd6d8d0c2cceed0b4");
// 您输入的密码错误
inline const std::string kWrongPassword = fromHex("c4facae4c8ebb5c4c3dcc2ebb4edcef3");
// <b><br>修改资料
inline const std::string kSectionStart = fromHex("3c623e3c62723e d0deb8c4d7cac1cf");
// " 隐藏真实url后地址栏将一直显示您的域名"
inline const std::string kSectionEnd =
    fromHex("20 d2feb2d8d5e6cab5 75726c baf3b5d8d6b7c0b8bdabd2bbd6b1cfd4cabec4fab5c4d3f2c3fb");
// ">是否隐藏真实URL？
inline const std::string kStateEnd = fromHex("223e cac7b7f1d2feb2d8d5e6cab5 55524c a3bf");
// 您的资料修改成功
inline const std::string kModified = fromHex("c4fab5c4d7cac1cfd0deb8c4b3c9b9a6");
inline const std::string kDeleted = "{MBuffer}";
// 删除
inline const std::string kDelete = fromHex("c9beb3fd");
// 请先登录
inline const std::string kLoginFirst = fromHex("c7ebcfc8b5c7c2bc");

// Row labels of the account form.
inline const std::string kTitleLabel = fromHex("3e d6f7d2b3c3fbb3c6 3a3c2f74643e");
inline const std::string kSendUrlLabel = fromHex("3e d7aacff2b5d8d6b7 3a3c2f74643e");
inline const std::string kEmailLabel = fromHex("3e d5beb3a4 454d41494c 3a3c2f74643e");
inline const std::string kRegNameLabel = fromHex("3e d7a2b2e1c8cbd0d5c3fb 3a3c2f74643e");
inline const std::string kLinkTelLabel = fromHex("3e c1aacfb5b5e7bbb0 3a3c2f74643e");
inline const std::string kAddressLabel = fromHex("3e c1aacfb5b5d8d6b7 3a3c2f74643e");
// 必填，包括区号
inline const std::string kLinkTelEnd = fromHex("b1d8ccee a3ac b0fcc0a8c7f8bac5");

} // namespace qiv::devserver::test::markers
