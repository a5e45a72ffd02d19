#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QObject>
#include <QTimer>

#include <vector>

namespace qiv::testing {

// Answers the program's modal message boxes while a test drives the window:
// each box that opens is recorded and closed with OK. Boxes run their own
// event loop, in which this timer keeps firing.
class ModalCatcher : public QObject {
public:
    struct Box {
        QMessageBox::Icon icon;
        QString title;
        QString text;
        Qt::TextFormat format;
    };

    ModalCatcher()
    {
        timer_.setInterval(5);
        QObject::connect(&timer_, &QTimer::timeout, this, [this] { check(); });
        timer_.start();
    }

    const std::vector<Box>& boxes() const { return boxes_; }
    void clear() { boxes_.clear(); }

private:
    void check()
    {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        // accept() hides the box at once, so each box is seen once. (Boxes
        // live on the stack and may share an address; do not track them.)
        if (box == nullptr || !box->isVisible())
            return;
        boxes_.push_back({box->icon(), box->windowTitle(), box->text(), box->textFormat()});
        box->accept();
    }

    QTimer timer_;
    std::vector<Box> boxes_;
};

} // namespace qiv::testing
