#include "ui/service_items.h"

#include <QComboBox>
#include <QStandardItemModel>

namespace qiv {

ServiceChoice selectedItem(const QComboBox* box)
{
    ServiceChoice choice;
    choice.index = box->currentIndex();
    if (choice.index < 0)
        return choice;
    choice.text = box->itemText(choice.index);
    QVariant bytes = box->itemData(choice.index, kGbkBytesRole);
    if (bytes.typeId() == QMetaType::QByteArray)
        choice.bytes = bytes.toByteArray();
    return choice;
}

void addServiceItems(QComboBox* box, const QStringList& texts, const QList<QByteArray>& bytes)
{
    auto* model = qobject_cast<QStandardItemModel*>(box->model());
    if (model == nullptr) {
        box->addItems(texts);
        return;
    }
    // The data is set before the rows go in: one insertion, no change
    // notice per item.
    QList<QStandardItem*> rows;
    rows.reserve(texts.size());
    for (qsizetype i = 0; i < texts.size(); ++i) {
        auto* item = new QStandardItem(texts[i]);
        if (i < bytes.size())
            item->setData(bytes[i], kGbkBytesRole);
        rows << item;
    }
    model->invisibleRootItem()->appendRows(rows);
}

} // namespace qiv
