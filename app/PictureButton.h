#pragma once

#include <QImage>
#include <QString>

class QWidget;
class THarmFade;

// The program's own pictures (resources/pictures), by name without ".png".
QImage programPicture(const QString& name);

// A picture button of the window: it shows picture at rest and picture + "-lit" while the
// pointer is over it, changing in one step.
THarmFade* makePictureButton(QWidget* parent, const QString& name, const QString& picture,
                             const QString& hint);
