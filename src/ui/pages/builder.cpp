#include "ui/pages/builder.h"

#include <QPalette>

namespace qiv {

QFont faceFont(const char* face, int pixelSize, bool bold)
{
    QFont f(QString::fromUtf8(face));
    f.setPixelSize(pixelSize);
    f.setBold(bold);
    return f;
}

void setWhiteBackground(QWidget* widget)
{
    QPalette pal = widget->palette();
    pal.setColor(QPalette::Window, Qt::white);
    widget->setPalette(pal);
    widget->setAutoFillBackground(true);
}

void setBase(QWidget* widget, const QColor& colour)
{
    QPalette pal = widget->palette();
    pal.setColor(QPalette::Base, colour);
    widget->setPalette(pal);
}

TransparentLabel* label(QWidget* parent, TransparentLabel*& member, const char* name,
                        const QRect& geometry, const char* text)
{
    auto* l = place(new TransparentLabel(QString::fromUtf8(text), parent), member, name, geometry);
    l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return l;
}

TransparentLabel* styledLabel(QWidget* parent, TransparentLabel*& member, const char* name,
                              const QRect& geometry, const char* text, const QFont& font,
                              const QColor& colour)
{
    TransparentLabel* l = label(parent, member, name, geometry, text);
    l->setFont(font);
    l->setTextColour(colour);
    return l;
}

QLineEdit* edit(QWidget* parent, QLineEdit*& member, const char* name, const QRect& geometry)
{
    return place(new QLineEdit(parent), member, name, geometry);
}

QLineEdit* passwordEdit(QWidget* parent, QStyle* style, QLineEdit*& member, const char* name,
                        const QRect& geometry)
{
    QLineEdit* e = edit(parent, member, name, geometry);
    e->setEchoMode(QLineEdit::Password);
    e->setStyle(style);
    return e;
}

QComboBox* combo(QWidget* parent, QComboBox*& member, const char* name, const QRect& geometry)
{
    auto* c = place(new QComboBox(parent), member, name, geometry);
    c->setEditable(false);
    return c;
}

QPushButton* button(QWidget* parent, QPushButton*& member, const char* name, const QRect& geometry,
                    const char* text)
{
    return place(new QPushButton(QString::fromUtf8(text), parent), member, name, geometry);
}

QCheckBox* checkBox(QWidget* parent, QCheckBox*& member, const char* name, const QRect& geometry,
                    const char* text)
{
    return place(new QCheckBox(QString::fromUtf8(text), parent), member, name, geometry);
}

SeparatorLine* separator(QWidget* parent, SeparatorLine*& member, const char* name, int left,
                         int top, int width)
{
    return place(new SeparatorLine(parent), member, name, QRect(left, top, width, 1));
}

HyperlinkBox* link(QWidget* parent, HyperlinkBox*& member, const char* name, const QRect& geometry,
                   const char* text, QRgb normal, QRgb hover, QRgb visited)
{
    auto* h = new HyperlinkBox(QString::fromUtf8(text), QColor(normal), QColor(hover),
                               QColor(visited), parent);
    return place(h, member, name, geometry);
}

QList<QWidget*> chainTabOrder(std::initializer_list<QWidget*> order)
{
    QList<QWidget*> chain(order);
    for (qsizetype i = 1; i < chain.size(); ++i)
        QWidget::setTabOrder(chain[i - 1], chain[i]);
    return chain;
}

} // namespace qiv
