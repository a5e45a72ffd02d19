#pragma once

#include "config/process_end.h"

#include <QByteArray>

#include <functional>

class QLineEdit;

namespace qiv {

class MainWindow;
struct ProgramState;

// The event table: binds every control event of the window to its handler.
// The handlers work on `state`, which must outlive the window. `quit` ends
// the program ("退 出"); the program passes quitProgram.
void wireEvents(MainWindow& window, ProgramState& state, std::function<void()> quit);

// Runs once when the window has been created and shown: the themed style,
// then the one background thread with the start-up fetches on `state`.
void onWindowCreated(MainWindow& window, ProgramState& state);

// Selects the whole text of a box, so that typing replaces it.
void selectAllOnFocus(QLineEdit* box);

// The one way the program ends, as qiv-follow's: at once with `status`,
// without waiting for any thread or request and before any static object is
// destroyed, as worker and background threads may still use them.
using config::endProcess;

// endProcess with status 0.
[[noreturn]] void quitProgram();

// From here on, exit() on the calling thread (Qt's when the display goes
// away, or a return from main) ends in endProcess with exit's status, before
// the destructor of any static object, also one first made after this call.
void endProcessOnExit();

// Whether the browser views run outside Chromium's sandbox: only where it
// cannot run (as root) or where the user turned it off, by setting
// QTWEBENGINE_DISABLE_SANDBOX or by --no-sandbox in their own flags.
bool sandboxDisabled(const QByteArray& userFlags, bool userDisabledSandbox, bool runningAsRoot);

// sandboxDisabled for this process: its own environment and user.
bool sandboxDisabledHere();

// The message on standard error, as root, of why the advertisement boxes
// stay empty.
extern const char* const kNoSandboxNotice;

// Whether the window and the views draw in software: where there is no GPU
// (no render node in /dev/dri), or where the user asked for it
// (QT_QUICK_BACKEND=software, LIBGL_ALWAYS_SOFTWARE).
bool drawsInSoftware();

// The V8 heap of the advertisement pages' renderer at most, in MiB.
inline constexpr int kPageHeapMiB = 192;

// The Chromium flags for the browser views: the user's own first, then one
// renderer process for all views, then --no-sandbox and --no-zygote when
// the sandbox is off, or --no-unsandboxed-zygote when it is on, and
// --disable-gpu when drawing in software, and the pages' heap limit; a
// switch the user gave is not added again.
QByteArray chromiumFlags(const QByteArray& userFlags, bool userDisabledSandbox, bool runningAsRoot,
                         bool software);

// Sets what Qt WebEngine reads from the environment at its start:
// QTWEBENGINE_CHROMIUM_FLAGS from chromiumFlags over the user's own, and
// QTWEBENGINE_DISABLE_SANDBOX where the sandbox is off. Before QApplication.
void setChromiumEnvironment(bool software);

// setChromiumEnvironment, and Qt Quick's software renderer when drawing in
// software, or else GL contexts shared with the engine. Before QApplication.
void prepareBrowserEngine();

// The program: creates and shows the window, runs the event loop, ends with 0.
int runApplication(int argc, char** argv);

} // namespace qiv
