#pragma once

#include "app/ListDialog.h"

class QLineEdit;

// "Search": selects, focuses and scrolls to the first row of the hit list whose file name
// contains a text. Every find starts again at the first row.
class TfrmSearchFile : public TListDialog {
    Q_OBJECT

public:
    TfrmSearchFile(Platform& platform, QAbstractItemView* hitList, QWidget* parent = nullptr);

    QLineEdit* SearchEdit = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
    void okClicked() override;
};
