#pragma once

#include <QMimeData>

// The data of a dragged idea: its .mid file as a URI list, which Linux DAWs
// and file managers accept, and on Windows also the clipboard format
// "FileName" that DAWs there look for.
class ZubWinMimeData : public QMimeData
{
    Q_OBJECT
public:
    static const QString FILE_NAME_FORMAT;

    explicit ZubWinMimeData(const QString& urlText);

    bool hasFormat(const QString& mimeType) const override;
    QStringList formats() const override;

protected:
    QVariant retrieveData(const QString& mimeType, QMetaType type) const override;

private:
    QString m_urlText;
};
