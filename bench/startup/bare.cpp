// The yardstick for Quorvale's start-up: a bare Qt program with what its
// window shows at start, a 600x400 main window with an empty table and one
// menu, and nothing else.
#include <QApplication>
#include <QMainWindow>
#include <QMenuBar>
#include <QTableView>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Quorvale"));
    window.resize(600, 400);
    window.menuBar()->addMenu(QStringLiteral("Application"))->addAction(QStringLiteral("Quit"));
    window.setCentralWidget(new QTableView(&window));
    window.show();
    return app.exec();
}
