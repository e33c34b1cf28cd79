#include "app/ResumeListDialog.h"
#include "platform/widgets/TerminationHandler.h"

#include <QApplication>
#include <QDialog>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <csignal>
#include <functional>
#include <gtest/gtest.h>

namespace {

// Acts on the question once it is open, from inside its own loop.
void whenOpen(const std::function<void(QDialog&)>& act) {
    QTimer::singleShot(0, [act] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        act(*dialog);
    });
}

void click(QDialog& dialog, const QString& text) {
    for (QPushButton* button : dialog.findChildren<QPushButton*>()) {
        if (button->text() == text)
            button->click();
    }
}

} // namespace

TEST(ResumeListDialog, ResumesAllTheCheckedOrNone) {
    const struct {
        const char* button;
        bool uncheckFirst;
        QList<qsizetype> chosen;
    } rows[] = {
        {"Resume All", true, {0, 1, 2}},
        {"Resume Checked", true, {1, 2}},
        {"Forget All", false, {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.button);
        QWidget window;
        TResumeListDialog question(&window);
        whenOpen([&](QDialog& dialog) {
            auto* list = dialog.findChild<QListWidget*>();
            ASSERT_EQ(list->count(), 3);
            EXPECT_EQ(list->item(2)->text(), "/t/c");
            if (row.uncheckFirst)
                list->item(0)->setCheckState(Qt::Unchecked);
            click(dialog, row.button);
        });
        EXPECT_EQ(question.choose("Continue to download these 3 files?", {"/t/a", "/t/b", "/t/c"}),
                  row.chosen);
    }
}

// A logout while the question is open ends the program and leaves the list as it was.
TEST(ResumeListDialog, ATerminationSignalClosesItUnanswered) {
    QWidget window;
    window.show();
    closeOnTerminationSignals(&window);
    TResumeListDialog question(&window);
    whenOpen([](QDialog& dialog) {
        std::raise(SIGTERM);
        QCoreApplication::processEvents(); // the signal's notice is waiting: it is handled here
        if (QApplication::activeModalWidget() == &dialog)
            click(dialog, "Forget All"); // still open: the signal was not honoured
    });
    EXPECT_EQ(question.choose("Continue to download file: /t/a?", {"/t/a"}), std::nullopt);
    EXPECT_FALSE(window.isVisible());
    std::signal(SIGTERM, SIG_DFL);
}
