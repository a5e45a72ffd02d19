#pragma once

#include "text/text.h"
#include "ui/service_items.h"

#include <QString>

// Nothing here waits on the network; refused() shows a modal box, which
// handles the window's events until it is closed.
namespace qiv {

class MainWindow;

// GBK bytes as a widget text.
QString fromGbk(std::string_view text);

// Reads control texts as GBK bytes. A text that GBK cannot represent reads
// as empty and marks the reader as failed, so an operation can refuse to
// send anything altered. Text that came from the service goes back as the
// bytes it came as, whether they are valid GBK or not: only what the user
// typed is checked.
class GbkReader {
public:
    Text operator()(const QString& text);
    // A selected item: its bytes from the service, or else its text;
    // empty when nothing is selected.
    Text choice(const ServiceChoice& item);
    // A box's text filled from `original` (service bytes): while it still
    // shows them, those bytes; once edited, its text.
    Text box(const QString& text, const Text& original);
    bool ok() const { return ok_; }
    // When a text could not be read, shows the stop box and says so: the
    // operation then sends nothing.
    bool refused(MainWindow& window) const;

private:
    bool ok_ = true;
};

} // namespace qiv
