#include "ui/widgets.h"

#include <QDesktopServices>
#include <QMouseEvent>
#include <QPalette>
#include <QStyleOptionGroupBox>
#include <QStylePainter>
#include <QUrl>

namespace qiv {
namespace {

constexpr int kCaptionIndent = 8;

// The text colour of an enabled widget, active window or not; the disabled
// text keeps the style's grey.
void setEnabledTextColour(QWidget* widget, const QColor& colour)
{
    QPalette pal = widget->palette();
    pal.setColor(QPalette::Active, QPalette::WindowText, colour);
    pal.setColor(QPalette::Inactive, QPalette::WindowText, colour);
    widget->setPalette(pal);
}

} // namespace

TransparentLabel::TransparentLabel(const QString& text, QWidget* parent) : QLabel(parent)
{
    // Labels show texts from the service's replies: never markup, never a
    // resource to load. Colour comes from the palette, not from HTML.
    setTextFormat(Qt::PlainText);
    setText(text);
    // The page shows through: no background of our own.
    setAutoFillBackground(false);
    setTextColour(QColor(0, 0, 0));
}

void TransparentLabel::setTextColour(const QColor& colour)
{
    setEnabledTextColour(this, colour);
}

QColor TransparentLabel::textColour() const
{
    return palette().color(QPalette::WindowText);
}

HyperlinkBox::HyperlinkBox(const QString& text, const QColor& normal, const QColor& hover,
                           const QColor& visited, QWidget* parent)
    : QLabel(parent), text_(text), normal_(normal), hover_(hover), visited_(visited)
{
    // The address is built from typed text: shown as it is, the underline
    // from the font.
    setTextFormat(Qt::PlainText);
    setAutoFillBackground(false);
    setCursor(Qt::PointingHandCursor);
    QFont f = font();
    f.setUnderline(true);
    setFont(f);
    QLabel::setText(text_);
    applyColour();
}

void HyperlinkBox::setLinkAddress(const QString& address)
{
    address_ = address;
    QLabel::setText(text_.isEmpty() ? address_ : text_);
}

void HyperlinkBox::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QLabel::mousePressEvent(event);
        return;
    }
    event->accept();
    pressedInside_ = true;
    visited_state_ = true;
    applyColour();
    emit pressed();
}

void HyperlinkBox::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QLabel::mouseReleaseEvent(event);
        return;
    }
    event->accept();
    // A press dragged out of the box before the release is no click.
    const bool clicked = pressedInside_ && rect().contains(event->position().toPoint());
    pressedInside_ = false;
    if (clicked && !address_.isEmpty())
        QDesktopServices::openUrl(QUrl(address_));
}

void HyperlinkBox::enterEvent(QEnterEvent* event)
{
    hovered_ = true;
    applyColour();
    QLabel::enterEvent(event);
}

void HyperlinkBox::leaveEvent(QEvent* event)
{
    hovered_ = false;
    applyColour();
    QLabel::leaveEvent(event);
}

void HyperlinkBox::applyColour()
{
    // The pointer over the link wins over the visited state.
    setEnabledTextColour(this, hovered_ ? hover_ : visited_state_ ? visited_ : normal_);
}

SeparatorLine::SeparatorLine(QWidget* parent) : QFrame(parent)
{
    // A plain 1 px line in the frame colour, whatever height the caller gives.
    setFrameShape(QFrame::HLine);
    setFrameShadow(QFrame::Plain);
    setLineWidth(1);
    setMidLineWidth(0);
    setFixedHeight(1);
}

CaptionGroupBox::CaptionGroupBox(const QString& caption, QWidget* parent)
    : QGroupBox(caption, parent)
{}

void CaptionGroupBox::setCaptionColour(const QColor& colour)
{
    if (colour == captionColour_)
        return;
    captionColour_ = colour;
    update();
}

void CaptionGroupBox::paintEvent(QPaintEvent*)
{
    // The caption sits in the frame's top edge, a little in from the left, as
    // the window was laid out for: the controls placed from the box's outer
    // corner then lie inside the frame. The style draws the caption; only the
    // caption takes the colour (the option's palette changes, the widget's
    // palette, inherited by the children, does not).
    QStylePainter painter(this);
    QStyleOptionGroupBox label;
    initStyleOption(&label);
    label.textColor = captionColour_;
    label.palette.setColor(QPalette::WindowText, captionColour_);
    label.subControls = QStyle::SC_GroupBoxLabel;
    const QRect labelRect =
        style()
            ->subControlRect(QStyle::CC_GroupBox, &label, QStyle::SC_GroupBoxLabel, this)
            .translated(kCaptionIndent, 0);

    const int top = label.text.isEmpty() ? 0 : labelRect.height() / 2;
    painter.save();
    if (!label.text.isEmpty())
        painter.setClipRegion(QRegion(rect()).subtracted(labelRect.adjusted(-2, 0, 2, 0)));
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawRect(rect().adjusted(0, top, -1, -1));
    painter.restore();

    if (!label.text.isEmpty()) {
        painter.translate(kCaptionIndent, 0);
        painter.drawComplexControl(QStyle::CC_GroupBox, label);
    }
}

} // namespace qiv
