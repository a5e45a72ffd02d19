#include <QApplication>

#include <gtest/gtest.h>

// Widget tests need a QApplication; Qt WebEngine needs shared GL contexts,
// set before the application object exists.
int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
