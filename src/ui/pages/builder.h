#pragma once

#include "ui/widgets.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFont>
#include <QLineEdit>
#include <QList>
#include <QPushButton>
#include <QRect>

#include <initializer_list>

class QStyle;

// What the page builders share: one call per control, which creates it on
// its container, sets its member and objectName from the one identifier and
// places it.
namespace qiv {

// A control's member and its objectName come from the one identifier.
#define NAMED(member) member, #member

template <class W> W* place(W* widget, W*& member, const char* name, const QRect& geometry)
{
    member = widget;
    widget->setObjectName(QString::fromUtf8(name));
    widget->setGeometry(geometry);
    return widget;
}

QFont faceFont(const char* face, int pixelSize, bool bold);
void setWhiteBackground(QWidget* widget);
// The background of an edit box.
void setBase(QWidget* widget, const QColor& colour);

TransparentLabel* label(QWidget* parent, TransparentLabel*& member, const char* name,
                        const QRect& geometry, const char* text);
TransparentLabel* styledLabel(QWidget* parent, TransparentLabel*& member, const char* name,
                              const QRect& geometry, const char* text, const QFont& font,
                              const QColor& colour = QColor(0, 0, 0));
QLineEdit* edit(QWidget* parent, QLineEdit*& member, const char* name, const QRect& geometry);
// `style` masks the password with "*" (Qt takes the mask from the style).
QLineEdit* passwordEdit(QWidget* parent, QStyle* style, QLineEdit*& member, const char* name,
                        const QRect& geometry);
QComboBox* combo(QWidget* parent, QComboBox*& member, const char* name, const QRect& geometry);
QPushButton* button(QWidget* parent, QPushButton*& member, const char* name, const QRect& geometry,
                    const char* text);
QCheckBox* checkBox(QWidget* parent, QCheckBox*& member, const char* name, const QRect& geometry,
                    const char* text);
SeparatorLine* separator(QWidget* parent, SeparatorLine*& member, const char* name, int left,
                         int top, int width);
HyperlinkBox* link(QWidget* parent, HyperlinkBox*& member, const char* name, const QRect& geometry,
                   const char* text, QRgb normal, QRgb hover, QRgb visited);

// A page's Tab order, chained in Qt; the window keeps Tab inside it.
QList<QWidget*> chainTabOrder(std::initializer_list<QWidget*> order);

} // namespace qiv
