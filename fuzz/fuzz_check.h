#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

// Property checks for the fuzz targets: a broken property aborts, so
// libFuzzer keeps the input as a crash and prints the message.
namespace qiv::fuzz {

inline void require(bool holds, const char* property)
{
    if (holds)
        return;
    std::fprintf(stderr, "property broken: %s\n", property);
    std::abort();
}

inline bool contains(std::string_view text, std::string_view part)
{
    return text.find(part) != std::string_view::npos;
}

inline std::string_view view(const uint8_t* data, size_t size)
{
    return {reinterpret_cast<const char*>(data), size};
}

// Letters that a generated value may use: none of them can form, alone or
// next to the markers around the value, any marker text the cuts look for.
inline std::string safeText(std::string_view bytes, std::string_view alphabet)
{
    std::string out;
    for (char c : bytes)
        out += alphabet[static_cast<unsigned char>(c) % alphabet.size()];
    return out;
}

} // namespace qiv::fuzz
