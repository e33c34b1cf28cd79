#pragma once

#include <QByteArray>
#include <QString>

// Text from the network as the terminal gets it: control characters are written as \xHH and
// the marks that turn the direction of text (U+202E ...) as \uHHHH, so that a caption or a
// server's reason phrase cannot move the cursor, set the title, split a line or make one
// name read as another.
QByteArray forTerminal(const QString& text);
