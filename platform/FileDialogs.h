#pragma once

#include <QString>
#include <QStringList>
#include <optional>

// The save and open dialogs and the folder browser. Each returns the chosen path, or
// nothing when the user cancels.
class IFileDialogs {
public:
    virtual ~IFileDialogs() = default;
    virtual std::optional<QString> saveFile(const QString& caption, const QString& initialDir,
                                            const QString& fileName, const QString& filter) = 0;
    // Like saveFile, but a file that is there already is taken without the dialog's own
    // question: the caller asks what becomes of it.
    virtual std::optional<QString> saveFileCallerAsks(const QString& caption,
                                                      const QString& initialDir,
                                                      const QString& fileName,
                                                      const QString& filter) {
        return saveFile(caption, initialDir, fileName, filter);
    }
    virtual std::optional<QString> openFile(const QString& caption, const QString& initialDir,
                                            const QString& filter) = 0;
    virtual std::optional<QString> browseFolder(const QString& caption,
                                                const QString& initialDir) = 0;
};
