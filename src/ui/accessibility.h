#pragma once

class QLabel;
class QWidget;

// How the window's controls present themselves to screen readers.
namespace qiv {

// A screen reader names an input after the label beside it: the label's
// text without its trailing colon. As the input's buddy the label is also
// what the input is "labelled by".
void labelInput(QLabel* label, QWidget* input);

// The hint beside an input is read after its name.
void describeInput(QLabel* hint, QWidget* input);

// Hyperlink boxes are announced as links, named by the text they show, and
// a screen reader's press acts as a click. Once per process; before the
// first window is made.
void installAccessibleFactories();

} // namespace qiv
