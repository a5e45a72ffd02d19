#include "service/status_log.h"

#include "text/gbk.h"

#include <QListWidget>
#include <QString>

namespace qiv {

void logStatus(QListWidget* log, std::string_view line)
{
    log->addItem(QString::fromStdString(gbkToUtf8(line)));
    log->scrollToBottom();
}

void clearStatusLog(QListWidget* log)
{
    log->clear();
}

} // namespace qiv
