#include "app/frmSearchFile.h"

#include "search/FindInList.h"

#include <QAbstractItemView>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>

TfrmSearchFile::TfrmSearchFile(Platform& platform, QAbstractItemView* hitList, QWidget* parent)
    : TListDialog(platform, hitList, parent) {
    setObjectName(QStringLiteral("frmSearchFile"));
    setWindowTitle(QStringLiteral("Search"));
    SearchEdit = new QLineEdit(this);
    SearchEdit->setObjectName(QStringLiteral("SearchEdit"));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(8, 8, 8, 8);
    row->addWidget(SearchEdit, 1);
    row->addWidget(BitBtn1);
    row->addWidget(BitBtn2);
    setFixedSize(row->sizeHint().expandedTo(QSize(202, 40)));
}

void TfrmSearchFile::showEvent(QShowEvent* event) {
    TListDialog::showEvent(event);
    SearchEdit->setFocus();
}

void TfrmSearchFile::okClicked() {
    if (SearchEdit->text().isEmpty()) {
        showMessage(QStringLiteral("Please enter a search string"));
        return;
    }
    m_hitList->setFocus();
    const int row = FindInList(*m_hitList->selectionModel(), SearchEdit->text());
    if (row < 0)
        showMessage(QStringLiteral("Sorry, no file matching your search"));
    else
        m_hitList->scrollTo(m_hitList->selectionModel()->currentIndex());
}
