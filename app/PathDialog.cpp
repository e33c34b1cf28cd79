#include "app/PathDialog.h"

#include "platform/FileDialogs.h"

void TPathDialog::setDirectory(const QString& directory) {
    m_directory = directory;
    if (m_directory.size() > 1 &&
        (m_directory.endsWith(QLatin1Char('/')) || m_directory.endsWith(QLatin1Char('\\'))))
        m_directory.chop(1);
}

bool TPathDialog::Execute() {
    const std::optional<QString> chosen = m_dialogs.browseFolder(Title, m_directory);
    if (!chosen || chosen->isEmpty())
        return false;
    setDirectory(*chosen);
    return true;
}
