#pragma once

#include "app/ListDialog.h"

class QCheckBox;
class QLabel;
class QLineEdit;
struct GroupSelectChoice;

// "Select Group": selects the hit list's rows whose file name contains a text and whose
// size lies in a range. The controls keep their contents between openings.
class TfrmGroupSelect : public TListDialog {
    Q_OBJECT

public:
    TfrmGroupSelect(Platform& platform, QAbstractItemView* hitList, QWidget* parent = nullptr);

    GroupSelectChoice choice() const;

    QCheckBox* CheckBox1 = nullptr;
    QLabel* Label1 = nullptr;
    QLineEdit* MinSizeEdit = nullptr;
    QLabel* Label2 = nullptr;
    QLineEdit* MaxSizeEdit = nullptr;
    QCheckBox* CheckBox2 = nullptr;
    QCheckBox* CheckBox3 = nullptr;
    QLineEdit* MustContainEdit = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
    void okClicked() override;
    bool eventFilter(QObject* watched, QEvent* event) override;
};
