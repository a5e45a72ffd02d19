#pragma once

#include "service/text.h"

namespace qiv {

class MainWindow;

// "提交注册": posts the registration form to reg.php and shows the outcome
// on the registration result page.
void registerDomain(MainWindow& window);

// The result text of a failed registration: the heading, then one
// "\r\n* reason" line per reason the service listed, in its order.
Text registrationFailureMessage(std::string_view reply);

} // namespace qiv
