#pragma once

class QAction;
class QPushButton;

// Binds a button to an action the way a designer-bound button is: the button
// shows the action's caption and image and is enabled exactly when the action
// is, and follows every later change of the action. Clicks are wired by the owner.
void linkButtonToAction(QPushButton *button, QAction *action);
