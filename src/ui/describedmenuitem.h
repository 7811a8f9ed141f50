#pragma once

class QAction;
class QString;

// Gives a menu item an accessible description, read by screen readers, such
// as why it cannot be chosen. Qt's own menu items have none, so an action
// described here is shown to assistive technology through an interface of
// this program's own; every other item stays Qt's.
void describeMenuItem(QAction *action, const QString &description);
