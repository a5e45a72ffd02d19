#pragma once

#include "text/text.h"

// Nothing here waits on the network.
namespace qiv {

class AccountTab;

// The status log on the account page: GBK lines shown as plain text.
void logStatus(AccountTab& page, std::string_view line);
void clearStatusLog(AccountTab& page);

} // namespace qiv
