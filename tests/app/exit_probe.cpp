// The program as qiv-forward is made, with a static object first made during
// exec(): it writes "made" to its output, a pipe the test reads, and
// "destroyed" should its destructor ever run. argv[1] names the way out.
#include "app/app.h"
#include "ui/main_window.h"

#include <QApplication>
#include <QTimer>

#include <cstdlib>
#include <string_view>

#include <unistd.h>

namespace {

std::string_view way;

struct Reporter {
    static void say(std::string_view text) { (void)!::write(1, text.data(), text.size()); }
    Reporter() { say("made\n"); }
    ~Reporter() { say("destroyed\n"); }
};

// Once the window is up.
void leave()
{
    static Reporter reporter;
    if (way == "exit") // as Qt does when the display goes away
        std::exit(3);
    if (way == "quit")
        qiv::quitProgram();
    if (way == "return")
        QCoreApplication::quit();
    for (QWidget* window : QApplication::topLevelWidgets())
        if (way == "close" && qobject_cast<qiv::MainWindow*>(window))
            window->close();
}

void leaveLater()
{
    QTimer::singleShot(1500, leave);
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(leaveLater)

int main(int argc, char** argv)
{
    way = argc > 1 ? argv[1] : "";
    return qiv::runApplication(1, argv);
}
