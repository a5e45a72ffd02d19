#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Decoding of application/x-www-form-urlencoded data over GBK bytes.
//
// Clients send values in two shapes: percent-encoded (%XX for every byte
// that is not unreserved ASCII) and raw (GBK bytes inserted as typed). Both
// decode to the same bytes: a byte >= 0x80 passes through unchanged, and so
// does a '%' that does not start a valid escape. A '+' always decodes to a
// space, as the encoding defines; a raw '+' typed into a field therefore
// arrives as a space (a client that wants a plus sign sends %2B).
namespace qiv::devserver {

// The value of one hexadecimal digit, -1 for any other character.
int hexValue(char c);

// Percent-decodes one key or value. With plusIsSpace, '+' becomes ' '.
std::string percentDecode(std::string_view text, bool plusIsSpace = true);

class FormData {
public:
    FormData() = default;
    // Splits at '&', each piece at its first '=' (a piece without '=' is a
    // key with an empty value), then decodes key and value.
    static FormData parse(std::string_view encoded);

    // The value of the first field with this key; a repeated key keeps its
    // first value, as a raw "&" typed inside a value must not override a
    // field sent earlier.
    std::optional<std::string> get(std::string_view key) const;
    // The first value, or the empty string when the key is absent.
    std::string value(std::string_view key) const;
    bool has(std::string_view key) const { return get(key).has_value(); }

    const std::vector<std::pair<std::string, std::string>>& fields() const { return fields_; }

private:
    std::vector<std::pair<std::string, std::string>> fields_;
};

} // namespace qiv::devserver
