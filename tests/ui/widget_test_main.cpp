#include "app/app.h"

#include <QApplication>

#include <gtest/gtest.h>

// Widget tests need a QApplication; the browser engine starts with the
// program's own flags (the sandbox unless root, software drawing without a
// GPU), set before the application object exists.
int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    qiv::prepareBrowserEngine();
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
