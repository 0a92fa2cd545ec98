#pragma once

// A command button as on Windows: Space or Enter press it while it has the
// focus. It is never a default button, so Enter in a field presses none.

#include <QPushButton>

class CommandButton final : public QPushButton
{
    Q_OBJECT

public:
    CommandButton(const QString &caption, QWidget *parent);
    Q_DISABLE_COPY_MOVE(CommandButton)

protected:
    void keyPressEvent(QKeyEvent *event) override;
};
