#include "ui/preferenceswindow.h"

#include "core/geometry.h"
#include "text/uitext.h"

#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>

PreferencesWindow buildPreferencesWindow(const QString &value)
{
    constexpr QSize content(360, 140);
    // Child frames are laid out from the bottom-left corner of the content area.
    const auto childFrame = [&](int x, int y, int width, int height) {
        return frameFromBottomLeft(QRect(QPoint(), content), x, y, width, height);
    };

    // Title and close button only; closing hides it (no delete-on-close).
    auto window = std::make_unique<QWidget>(
        nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    window->setWindowTitle(Ui::Preferences.text());
    window->setFixedSize(content);
    const QScreen *screen = QGuiApplication::primaryScreen();
    const QRect available = screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
    window->setGeometry(frameFromBottomLeft(available, 200, 200, content.width(), content.height()));

    auto *label = new QLabel(Ui::TimeoutLabel.text(), window.get());
    label->setGeometry(childFrame(20, 80, 320, 22));

    auto *field = new QLineEdit(value, window.get());
    field->setGeometry(childFrame(20, 48, 120, 24));
    label->setBuddy(field); // the field's name for screen readers

    // Not a default button: Return in the field does not save.
    auto *save = new QPushButton(Ui::Save.text(), window.get());
    save->setGeometry(childFrame(240, 12, 100, 28));
    save->setAutoDefault(false);

    return {std::move(window), field, save};
}
