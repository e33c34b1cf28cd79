#include "app/frmGroupSelect.h"

#include "search/GroupSelection.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QFocusEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

TfrmGroupSelect::TfrmGroupSelect(Platform& platform, QAbstractItemView* hitList, QWidget* parent)
    : TListDialog(platform, hitList, parent) {
    setObjectName(QStringLiteral("frmGroupSelect"));
    setWindowTitle(QStringLiteral("Select Group"));

    CheckBox1 = new QCheckBox(QStringLiteral("Size must be in range (kb):"), this);
    CheckBox1->setObjectName(QStringLiteral("CheckBox1"));
    Label1 = new QLabel(QStringLiteral("min:"), this);
    MinSizeEdit = new QLineEdit(this);
    MinSizeEdit->setObjectName(QStringLiteral("MinSizeEdit"));
    MinSizeEdit->setEnabled(false);
    Label1->setBuddy(MinSizeEdit);
    Label2 = new QLabel(QStringLiteral("max:"), this);
    MaxSizeEdit = new QLineEdit(this);
    MaxSizeEdit->setObjectName(QStringLiteral("MaxSizeEdit"));
    MaxSizeEdit->setEnabled(false);
    Label2->setBuddy(MaxSizeEdit);
    for (QLineEdit* edit : {MinSizeEdit, MaxSizeEdit})
        edit->setMaximumWidth(64);
    CheckBox2 = new QCheckBox(QStringLiteral("Filename must contain:"), this);
    CheckBox2->setObjectName(QStringLiteral("CheckBox2"));
    CheckBox2->setChecked(true);
    CheckBox3 = new QCheckBox(QStringLiteral("Case sensitive"), this);
    CheckBox3->setObjectName(QStringLiteral("CheckBox3"));
    MustContainEdit = new QLineEdit(this);
    MustContainEdit->setObjectName(QStringLiteral("MustContainEdit"));

    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(8, 6, 8, 6);
    grid->setVerticalSpacing(3);
    grid->addWidget(CheckBox1, 0, 0, 1, 4);
    grid->addWidget(Label1, 1, 0, Qt::AlignRight);
    grid->addWidget(MinSizeEdit, 1, 1);
    grid->addWidget(Label2, 1, 2, Qt::AlignRight);
    grid->addWidget(MaxSizeEdit, 1, 3);
    grid->addWidget(CheckBox2, 2, 0, 1, 4);
    grid->addWidget(MustContainEdit, 3, 0, 1, 4);
    auto* last = new QHBoxLayout;
    last->addWidget(CheckBox3, 1);
    last->addWidget(BitBtn1);
    last->addWidget(BitBtn2);
    grid->addLayout(last, 4, 0, 1, 4);
    setFixedSize(grid->sizeHint().expandedTo(QSize(237, 129)));

    connect(CheckBox1, &QCheckBox::toggled, this, [this](bool on) {
        MinSizeEdit->setEnabled(on);
        MaxSizeEdit->setEnabled(on);
    });
    connect(CheckBox2, &QCheckBox::toggled, MustContainEdit, &QWidget::setEnabled);
    MinSizeEdit->installEventFilter(this);
    MaxSizeEdit->installEventFilter(this);
}

GroupSelectChoice TfrmGroupSelect::choice() const {
    GroupSelectChoice choice;
    choice.sizeInRange = CheckBox1->isChecked();
    choice.minKb = MinSizeEdit->text();
    choice.maxKb = MaxSizeEdit->text();
    choice.nameMustContain = CheckBox2->isChecked();
    choice.text = MustContainEdit->text();
    choice.caseSensitive = CheckBox3->isChecked();
    return choice;
}

void TfrmGroupSelect::showEvent(QShowEvent* event) {
    TListDialog::showEvent(event);
    MustContainEdit->setFocus();
}

// Leaving a size edit with something else than a non-negative integer in it. Focus that
// leaves with the whole window (another program, a pop-up) is not leaving the edit.
bool TfrmGroupSelect::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusOut) {
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        const auto* edit = static_cast<QLineEdit*>(watched);
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason &&
            !GroupSelection::isSizeText(edit->text()))
            showMessage(QStringLiteral("Must be a positive integer"));
    }
    return TListDialog::eventFilter(watched, event);
}

void TfrmGroupSelect::okClicked() {
    const GroupSelectChoice wanted = choice();
    const QString warning = GroupSelection::warningFor(wanted);
    if (!warning.isEmpty()) {
        showMessage(warning);
        return;
    }
    const GroupSelection selection(wanted); // a bad size edit stops here, nothing changed
    m_hitList->setFocus();
    selection.apply(*m_hitList->selectionModel());
}
