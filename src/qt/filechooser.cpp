#include "qt/filechooser.h"

#include <QFileDialog>

QString FileChooser::openFileName(QWidget* parent, const QString& caption, const QString& dir, const QString& filter)
{
    return QFileDialog::getOpenFileName(parent, caption, dir, filter);
}

QString FileChooser::saveFileName(QWidget* parent, const QString& caption, const QString& dir, const QString& filter)
{
    return QFileDialog::getSaveFileName(parent, caption, dir, filter);
}
