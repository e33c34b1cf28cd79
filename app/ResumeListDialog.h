#pragma once

#include "download/SmbResumeList.h"

class QWidget;

// The start-up question about the unfinished SMB fetches: the targets with a check box each,
// and "Resume All", "Resume Checked" and "Forget All". Closing it answers nothing.
class TResumeListDialog : public IResumeChoice {
public:
    explicit TResumeListDialog(QWidget* parent) : m_parent(parent) {}
    std::optional<QList<qsizetype>> choose(const QString& question,
                                           const QStringList& targets) override;

private:
    QWidget* m_parent;
};
