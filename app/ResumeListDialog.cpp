#include "app/ResumeListDialog.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

std::optional<QList<qsizetype>> TResumeListDialog::choose(const QString& question,
                                                          const QStringList& targets) {
    QDialog dialog(m_parent);
    dialog.setWindowTitle(QStringLiteral("Confirm"));
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(new QLabel(question, &dialog));
    auto* list = new QListWidget(&dialog);
    for (const QString& target : targets) {
        auto* item = new QListWidgetItem(target, list);
        item->setCheckState(Qt::Checked);
    }
    layout->addWidget(list);
    auto* buttons = new QDialogButtonBox(&dialog);
    QPushButton* all = buttons->addButton(QStringLiteral("Resume All"), QDialogButtonBox::YesRole);
    QPushButton* checked =
        buttons->addButton(QStringLiteral("Resume Checked"), QDialogButtonBox::ApplyRole);
    QPushButton* none = buttons->addButton(QStringLiteral("Forget All"), QDialogButtonBox::NoRole);
    layout->addWidget(buttons);

    std::optional<QList<qsizetype>> answer;
    const auto answerWith = [&](bool onlyChecked) {
        answer.emplace();
        for (int i = 0; i < list->count(); ++i) {
            if (!onlyChecked || list->item(i)->checkState() == Qt::Checked)
                answer->append(i);
        }
        dialog.accept();
    };
    QObject::connect(all, &QPushButton::clicked, &dialog, [&] { answerWith(false); });
    QObject::connect(checked, &QPushButton::clicked, &dialog, [&] { answerWith(true); });
    QObject::connect(none, &QPushButton::clicked, &dialog, [&] {
        answer.emplace();
        dialog.accept();
    });
    dialog.exec();
    return answer;
}
