#include "app/ActionButton.h"

#include <QAction>
#include <QPushButton>

void linkButtonToAction(QPushButton *button, QAction *action)
{
    const auto refresh = [button, action] {
        button->setText(action->text());
        button->setIcon(action->icon());
        button->setEnabled(action->isEnabled());
    };
    refresh();
    QObject::connect(action, &QAction::changed, button, refresh);
}
