#pragma once

#include "devserver/form.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The service's rules for the account fields, shared by the registration
// and the modification.
namespace qiv::devserver {

// In the order of the registration form; a failed registration lists its
// reasons in this order.
enum class Rule {
    NameLength,      // at least 3 bytes
    NameCharacters,  // ASCII letters, digits and '-' only
    Suffix,          // one of the served suffixes
    PasswordLength,  // 6 to 12 characters
    PasswordConfirm, // password and confirmation equal
    Title,           // required
    SendUrl,         // required
    Email,           // required
    RegName,         // required
    LinkTel,         // required
    Address,         // required
    NameTaken,       // no account holds the name under that suffix
};

// The reason text of a failed rule, GBK.
std::string ruleReason(Rule rule);

// Characters of a GBK text: a lead byte 0x81..0xFE with a following byte is
// one character, every other byte is one.
std::size_t gbkCharacterCount(std::string_view bytes);

bool isValidName(std::string_view name);

// Every failed rule of a registration form, in form order.
std::vector<Rule> checkRegistration(const FormData& form, const std::vector<std::string>& suffixes,
                                    bool nameTaken);

// The first failed rule of a modification form: an empty psw keeps the
// password, so its length only counts when one is given; there is no
// confirmation field.
std::optional<Rule> checkModification(const FormData& form);

} // namespace qiv::devserver
