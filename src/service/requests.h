#pragma once

#include "text/text.h"

#include <string>
#include <string_view>

// Waits on the network: postToService. It returns only when the reply is
// in, the window's events handled meanwhile, so other handlers can run
// inside it and the window may be gone when it returns.
namespace qiv {

struct ProgramState;

// "http://" + service host + "/" + page.
std::string serviceUrl(const ProgramState& state, std::string_view page);
// Posts a form body to a service page; the reply text, empty on any failure.
Text postToService(ProgramState& state, std::string_view page, const Text& body);

} // namespace qiv
