#include "app/MessageBoxPresenter.h"

#include <QPushButton>
#include <QWidget>

namespace {

class TQMessageBoxPresenter final : public IMessageBoxPresenter
{
public:
    QMessageBox::StandardButton present(const TMessageBoxRequest &request) override
    {
        QWidget *owner = request.owner ? request.owner->window() : nullptr;
        QMessageBox box(request.icon, request.caption, QString(), QMessageBox::NoButton, owner);
        // Error texts carry file names and server answers: shown as they are,
        // never read as markup.
        box.setTextFormat(Qt::PlainText);
        box.setText(request.text);
        for (QMessageBox::StandardButton button : request.buttons)
            box.addButton(button);
        if (!request.buttons.isEmpty())
            box.setDefaultButton(request.buttons.first());
        // Modal to the owner only; a box without owner leaves every window usable.
        box.setWindowModality(Qt::WindowModal);
        box.exec();
        return box.standardButton(box.clickedButton());
    }
};

IMessageBoxPresenter &defaultPresenter()
{
#ifdef Q_OS_WIN
    return systemMessageBoxPresenter();
#else
    static TQMessageBoxPresenter presenter;
    return presenter;
#endif
}

IMessageBoxPresenter *gPresenter = nullptr;

} // namespace

IMessageBoxPresenter &MessageBoxPresenter::instance()
{
    return gPresenter ? *gPresenter : defaultPresenter();
}

void MessageBoxPresenter::setInstance(IMessageBoxPresenter *presenter)
{
    gPresenter = presenter;
}
