// One main for every unit test program: the Qt application object that the
// code under test expects, then GoogleTest.
#include <gtest/gtest.h>

#ifdef QUORVALE_TEST_GUI
#include <QApplication>
using Application = QApplication;
#else
#include <QCoreApplication>
using Application = QCoreApplication;
#endif

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    Application application(argc, argv);
    return RUN_ALL_TESTS();
}
