#pragma once

#include <QColor>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QString>

// The control kinds of the main window that Qt has no exact widget for.
namespace qiv {

// Static plain text without a background of its own; the page shows through.
// Its colour is the enabled text's: disabled, it greys out with its container.
class TransparentLabel : public QLabel {
    Q_OBJECT
public:
    explicit TransparentLabel(const QString& text, QWidget* parent = nullptr);

    void setTextColour(const QColor& colour);
    QColor textColour() const;
};

// A short clickable plain text drawn in link colours, with an optional address.
// A left-button press emits pressed(); when an address is set, a completed
// click (press and release inside the box) opens it in the desktop's browser.
// It shows its text, or its address when it has no text of its own.
class HyperlinkBox : public QLabel {
    Q_OBJECT
public:
    HyperlinkBox(const QString& text, const QColor& normal, const QColor& hover,
                 const QColor& visited, QWidget* parent = nullptr);

    void setLinkAddress(const QString& address);
    QString linkAddress() const { return address_; }
    QColor normalColour() const { return normal_; }
    QColor hoverColour() const { return hover_; }
    QColor visitedColour() const { return visited_; }

signals:
    void pressed();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    void applyColour();

    QString text_;
    QString address_;
    QColor normal_, hover_, visited_;
    bool hovered_ = false;
    bool visited_state_ = false;
    bool pressedInside_ = false;
};

// A horizontal line 1 pixel high.
class SeparatorLine : public QFrame {
    Q_OBJECT
public:
    explicit SeparatorLine(QWidget* parent = nullptr);
};

// A group box whose caption has a colour of its own; the controls inside keep
// their own colours.
class CaptionGroupBox : public QGroupBox {
    Q_OBJECT
public:
    explicit CaptionGroupBox(const QString& caption, QWidget* parent = nullptr);

    void setCaptionColour(const QColor& colour);
    QColor captionColour() const { return captionColour_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor captionColour_{0, 0, 0};
};

} // namespace qiv
