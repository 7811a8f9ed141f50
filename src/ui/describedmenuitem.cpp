#include "ui/describedmenuitem.h"

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QAction>
#include <QMenu>
#include <QPointer>

namespace {
const char DescriptionProperty[] = "quorvaleAccessibleDescription";

// What Qt's menu item tells a screen reader, and the description besides.
class DescribedMenuItem : public QAccessibleInterface, public QAccessibleActionInterface {
public:
    explicit DescribedMenuItem(QAction *action)
        : m_action(action)
    {
    }

    bool isValid() const override { return m_action && menu(); }
    QObject *object() const override { return m_action; }
    QWindow *window() const override { return menu() ? menu()->windowHandle() : nullptr; }
    QAccessibleInterface *parent() const override { return QAccessible::queryAccessibleInterface(menu()); }
    QAccessibleInterface *child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface *) const override { return -1; }
    QAccessibleInterface *childAt(int, int) const override { return nullptr; }
    QAccessibleInterface *focusChild() const override { return nullptr; }
    QAccessible::Role role() const override { return QAccessible::MenuItem; }
    void setText(QAccessible::Text, const QString &) override {}

    QString text(QAccessible::Text which) const override
    {
        switch (which) {
        case QAccessible::Name:
            return QString(m_action->text()).remove(QLatin1Char('&'));
        case QAccessible::Description:
            return m_action->property(DescriptionProperty).toString();
        case QAccessible::Accelerator:
            return m_action->shortcut().toString(QKeySequence::NativeText);
        default:
            return {};
        }
    }

    QRect rect() const override
    {
        const QMenu *shown = menu();
        if (!shown)
            return {};
        const QRect inMenu = shown->actionGeometry(m_action);
        return QRect(shown->mapToGlobal(inMenu.topLeft()), inMenu.size());
    }

    QAccessible::State state() const override
    {
        QAccessible::State state;
        state.disabled = !m_action->isEnabled();
        state.focusable = m_action->isEnabled();
        state.focused = menu() && menu()->activeAction() == m_action;
        state.invisible = !m_action->isVisible();
        return state;
    }

    void *interface_cast(QAccessible::InterfaceType type) override
    {
        return type == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface *>(this) : nullptr;
    }
    QStringList actionNames() const override
    {
        return m_action->isEnabled() ? QStringList{pressAction()} : QStringList();
    }
    void doAction(const QString &name) override
    {
        if (name == pressAction() && m_action->isEnabled())
            m_action->trigger();
    }
    QStringList keyBindingsForAction(const QString &) const override { return {}; }

private:
    QMenu *menu() const { return m_action ? qobject_cast<QMenu *>(m_action->parent()) : nullptr; }

    QPointer<QAction> m_action;
};

QAccessibleInterface *describedItems(const QString &className, QObject *object)
{
    auto *action = qobject_cast<QAction *>(object);
    if (className != QLatin1String("QAction") || !action || !action->property(DescriptionProperty).isValid())
        return nullptr;
    return new DescribedMenuItem(action);
}
} // namespace

void describeMenuItem(QAction *action, const QString &description)
{
    static const bool installed = (QAccessible::installFactory(describedItems), true);
    Q_UNUSED(installed);
    action->setProperty(DescriptionProperty, description);
}
