#pragma once

#include <QFileDialog>
#include <QString>

class QWidget;

// Asks the user for a file name. The window's document commands take their
// names from here, so tests can answer without a native dialog.
class FileChooser
{
public:
    virtual ~FileChooser() = default;

    // Empty when the user cancels.
    virtual QString openFileName(QWidget* parent, const QString& caption, const QString& dir, const QString& filter);
    virtual QString saveFileName(QWidget* parent, const QString& caption, const QString& dir, const QString& filter,
        QFileDialog::Options options = {});
};
