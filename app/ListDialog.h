#pragma once

#include <QDialog>

class QAbstractItemView;
class QPushButton;
struct Platform;

// What the group select and find dialogs share: the light-blue background, the icon, and
// the two glyph buttons whose captions are emptied at every show. Either button closes the
// dialog; OK runs the dialog's action first. Both act on the hit list's rows.
class TListDialog : public QDialog {
    Q_OBJECT

public:
    TListDialog(Platform& platform, QAbstractItemView* hitList, QWidget* parent);

    QPushButton* BitBtn1 = nullptr; // OK
    QPushButton* BitBtn2 = nullptr; // Cancel

protected:
    void showEvent(QShowEvent* event) override;
    virtual void okClicked() = 0;
    // A message of the dialog (caption "Pellmar", OK button).
    void showMessage(const QString& text);

    Platform& m_platform;
    QAbstractItemView* m_hitList;
};
