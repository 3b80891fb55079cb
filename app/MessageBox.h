#pragma once

#include <QString>

class QWidget;

// The declared order is part of the contract: callers store and compare these by number.
// A fixed underlying type makes every such number a valid value, also one
// outside the lists, which the box then handles as documented below.
enum TMsgButtons : int { btAbortRetryIgnore, btOK, btOKCancel, btRetryCancel, btYesNo, btYesNoCancel };
enum TMsgIcon : int { icNone, icWarning, icInformation, icQuestion, icError };
enum TMsgResult { rsAbort, rsCancel, rsIgnore, rsNo, rsOK, rsRetry, rsYes };

// Shows a modal box (modal to owner, or to nothing when owner is null) and
// waits for the answer. A button set or icon outside the enumerations shows OK
// alone or no icon; an answer outside the button table counts as rsYes.
TMsgResult showMessageBox(QWidget *owner, TMsgButtons buttons, TMsgIcon icon, const QString &text,
                          const QString &caption);

TMsgResult showWarning(QWidget *owner, const QString &caption, const QString &text);
TMsgResult askYesNo(QWidget *owner, const QString &caption, const QString &text);
