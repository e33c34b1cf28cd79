#pragma once

#include <QApplication>

class IMessageBoxes;

// The application object. An error that escapes an event handler stops that handler and
// is shown in the general error box; the program goes on.
class PellmarApplication : public QApplication {
public:
    PellmarApplication(int& argc, char** argv);
    void setMessageBoxes(IMessageBoxes* boxes) { m_boxes = boxes; }
    bool notify(QObject* receiver, QEvent* event) override;

private:
    IMessageBoxes* m_boxes = nullptr;
};
