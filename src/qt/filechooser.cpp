#include "qt/filechooser.h"

QString FileChooser::openFileName(QWidget* parent, const QString& caption, const QString& dir, const QString& filter)
{
    return QFileDialog::getOpenFileName(parent, caption, dir, filter);
}

QString FileChooser::saveFileName(QWidget* parent, const QString& caption, const QString& dir, const QString& filter,
    QFileDialog::Options options)
{
    return QFileDialog::getSaveFileName(parent, caption, dir, filter, nullptr, options);
}
