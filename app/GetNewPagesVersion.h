#pragma once

#include <QDialog>
#include <functional>

class PagesRefresh;
class QLabel;
class QPushButton;
class SettingsFile;

// The small "Update" window shown while a new data file is fetched. It is created once and
// reused; each show starts a request for url(). It closes accepted when the data file was
// replaced, rejected when the answer was no data file or the user pressed Cancel.
class TGetNewPagesVersion : public QDialog {
    Q_OBJECT

public:
    TGetNewPagesVersion(const SettingsFile& ini, const QString& dataFilePath,
                        std::function<void()> reloadDataFile, QWidget* parent = nullptr);

    void setUrl(const QByteArray& url);
    QByteArray url() const;
    PagesRefresh& refresh() { return *m_refresh; }

    QLabel* Label1 = nullptr;
    QPushButton* CancelButton = nullptr;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void RequestDone(bool saved);

    PagesRefresh* m_refresh = nullptr;
};
