#include "ui/accessibility.h"

#include "ui/widgets.h"

#include <QAccessibleWidget>
#include <QCoreApplication>
#include <QLabel>
#include <QMouseEvent>

#include <mutex>

namespace qiv {
namespace {

class HyperlinkAccessible : public QAccessibleWidget {
public:
    explicit HyperlinkAccessible(HyperlinkBox* box) : QAccessibleWidget(box, QAccessible::Link) {}

    // The name is what the box shows (the domain's address for the account
    // page's link), not the buddy label's text, which stays the label.
    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name && widget()->accessibleName().isEmpty())
            return static_cast<HyperlinkBox*>(widget())->text();
        return QAccessibleWidget::text(t);
    }

    QStringList actionNames() const override
    {
        return QStringList{pressAction()} + QAccessibleWidget::actionNames();
    }

    void doAction(const QString& action) override
    {
        if (action != pressAction()) {
            QAccessibleWidget::doAction(action);
            return;
        }
        const QPointF centre = QRectF(widget()->rect()).center();
        const QPointF global = widget()->mapToGlobal(centre);
        QMouseEvent press(QEvent::MouseButtonPress, centre, global, Qt::LeftButton, Qt::LeftButton,
                          Qt::NoModifier);
        QCoreApplication::sendEvent(widget(), &press);
        QMouseEvent release(QEvent::MouseButtonRelease, centre, global, Qt::LeftButton,
                            Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(widget(), &release);
    }
};

QAccessibleInterface* hyperlinkAccessible(const QString& className, QObject* object)
{
    if (className == QLatin1String("qiv::HyperlinkBox"))
        return new HyperlinkAccessible(static_cast<HyperlinkBox*>(object));
    return nullptr;
}

} // namespace

void labelInput(QLabel* label, QWidget* input)
{
    label->setBuddy(input);
    QString name = label->text().trimmed();
    if (name.endsWith(u':') || name.endsWith(u'：'))
        name.chop(1);
    input->setAccessibleName(name.trimmed());
}

void describeInput(QLabel* hint, QWidget* input)
{
    input->setAccessibleDescription(hint->text());
}

void installAccessibleFactories()
{
    static std::once_flag once;
    std::call_once(once, [] { QAccessible::installFactory(hyperlinkAccessible); });
}

} // namespace qiv
