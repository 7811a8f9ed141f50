#include "app/appdelegate.h"
#include "devices/udevusbsource.h"

#include <QApplication>
#include <QTimer>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    // Settings live in ~/.config/Quorvale/Quorvale.conf.
    QCoreApplication::setOrganizationName(QStringLiteral("Quorvale"));
    QCoreApplication::setApplicationName(QStringLiteral("Quorvale"));
    AppDelegate delegate(std::make_unique<UdevUsbSource>());
    QTimer::singleShot(0, &delegate, &AppDelegate::applicationDidFinishLaunching);
    application.exec();
    return 0;
}
