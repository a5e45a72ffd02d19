#pragma once

#include <functional>

class QLineEdit;

namespace qiv {

class MainWindow;

// The event table: binds every control event of the window to its handler.
// `quit` ends the program ("退 出"); the program passes quitProgram.
void wireEvents(MainWindow& window, std::function<void()> quit);

// Runs once when the window has been created and shown: the themed style,
// then the one background thread with the start-up fetches.
void onWindowCreated(MainWindow& window);

// Selects the whole text of a box, so that typing replaces it.
void selectAllOnFocus(QLineEdit* box);

// Ends the process at once with status 0, without waiting for any thread or
// request.
[[noreturn]] void quitProgram();

// The program: creates and shows the window, runs the event loop, ends with 0.
int runApplication(int argc, char** argv);

} // namespace qiv
