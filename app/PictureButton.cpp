#include "app/PictureButton.h"

#include "controls/HarmFade.h"

QImage programPicture(const QString& name) {
    return QImage(QStringLiteral(":/pictures/") + name + QStringLiteral(".png"));
}

THarmFade* makePictureButton(QWidget* parent, const QString& name, const QString& picture,
                             const QString& hint) {
    auto* button = new THarmFade(parent);
    button->setObjectName(name);
    button->setPicFrom(programPicture(picture));
    button->setPicTo(programPicture(picture + QStringLiteral("-lit")));
    button->setBlendRate(1);
    button->setToolTip(hint);
    button->setCursor(Qt::PointingHandCursor);
    button->OnMouseEnter = [](THarmFade* sender) { sender->FadeIn(); };
    button->OnMouseLeave = [](THarmFade* sender) { sender->FadeOut(); };
    return button;
}
