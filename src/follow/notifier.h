#pragma once

#include "follow/event_command.h"

#include <optional>
#include <string>

// Desktop notifications of the events a user must know of, through the
// session bus's org.freedesktop.Notifications, when there is a server for
// it (running or activatable).
namespace qiv::follow {

struct Notice {
    std::string summary, body;
};

// The notice for an event of EventCommand's list, in Chinese as the window
// speaks; nothing for any other event.
std::optional<Notice> noticeFor(const EventFacts& facts);

// Shows `notice`. Nothing is tried when there is no session bus, or no
// server owns or can be activated for the name: then it returns false with
// `error` empty. A server that fails the call sets `error`.
bool showNotice(const Notice& notice, std::string* error);

} // namespace qiv::follow
