#include "service/status_log.h"

#include "service/gbk_reader.h"
#include "ui/pages/account.h"

namespace qiv {

void logStatus(AccountTab& page, std::string_view line)
{
    page.appendLog(fromGbk(line));
}

void clearStatusLog(AccountTab& page)
{
    page.clearLog();
}

} // namespace qiv
