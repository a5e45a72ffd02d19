#pragma once

#include "text/text.h"

class QListWidget;

namespace qiv {

// The status log on the account page: GBK lines shown as plain text.
void logStatus(QListWidget* log, std::string_view line);
void clearStatusLog(QListWidget* log);

} // namespace qiv
