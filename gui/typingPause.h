#pragma once

#include <QLineEdit>
#include <QTimer>

// A pause that typing into `field` restarts: its timeout comes once the user stops for a moment,
// so that what follows the text (a search, a filter) runs once rather than at every key.
inline QTimer* typingPause(QLineEdit* field)
{
    auto* pause = new QTimer(field);
    pause->setSingleShot(true);
    pause->setInterval(250);
    QObject::connect(field, &QLineEdit::textChanged, pause, qOverload<>(&QTimer::start));
    return pause;
}
