#pragma once

#include "app/MessageBoxPresenter.h"

#include <QList>
#include <QPointer>
#include <QWidget>

#include <functional>

// Answers message boxes without a screen. Installs itself for its lifetime,
// records every box and answers from a queue; with the queue empty it presses
// the box's default (first) button, as Enter would.
class ScriptedMessageBoxes final : public IMessageBoxPresenter
{
public:
    struct Shown
    {
        QPointer<QWidget> owner;
        bool hadOwner = false;
        QString caption;
        QString text;
        QList<QMessageBox::StandardButton> buttons;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
    };

    ScriptedMessageBoxes() { MessageBoxPresenter::setInstance(this); }
    ~ScriptedMessageBoxes() override { MessageBoxPresenter::setInstance(nullptr); }
    ScriptedMessageBoxes(const ScriptedMessageBoxes &) = delete;
    ScriptedMessageBoxes &operator=(const ScriptedMessageBoxes &) = delete;

    QMessageBox::StandardButton present(const TMessageBoxRequest &request) override
    {
        Shown box;
        box.owner = request.owner;
        box.hadOwner = request.owner != nullptr;
        box.caption = request.caption;
        box.text = request.text;
        box.buttons = request.buttons;
        box.icon = request.icon;
        shown.append(box);
        // Runs while the box is "open", e.g. to spin the event loop as a real modal box does.
        if (whileShown)
            whileShown(shown.last());
        if (!answers.isEmpty())
            return answers.takeFirst();
        return request.buttons.isEmpty() ? QMessageBox::NoButton : request.buttons.first();
    }

    QStringList texts() const
    {
        QStringList result;
        for (const Shown &box : shown)
            result.append(box.text);
        return result;
    }

    QList<Shown> shown;
    QList<QMessageBox::StandardButton> answers;
    std::function<void(const Shown &)> whileShown;
};
