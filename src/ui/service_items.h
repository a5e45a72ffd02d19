#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

class QComboBox;

// Combo box items that came from the service (the domain suffixes).
namespace qiv {

// The item data role under which an item from the service keeps the bytes
// it came as: its text may show them only in part (U+FFFD for a byte that is
// not GBK).
inline constexpr int kGbkBytesRole = Qt::UserRole;

// The selected item of a combo box as one value: index -1 and an empty text
// when nothing is selected; `bytes` for an item from the service.
struct ServiceChoice {
    int index = -1;
    QString text;
    std::optional<QByteArray> bytes;
};

ServiceChoice selectedItem(const QComboBox* box);

// Appends items from the service, each keeping its bytes, in one insertion.
void addServiceItems(QComboBox* box, const QStringList& texts, const QList<QByteArray>& bytes);

} // namespace qiv
