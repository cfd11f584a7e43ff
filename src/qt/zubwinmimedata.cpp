#include "qt/zubwinmimedata.h"

#include "qt/qtloghandler.h"

#include <QDebug>
#include <QUrl>

const QString ZubWinMimeData::FILE_NAME_FORMAT = "application/x-qt-windows-mime;value=\"FileName\"";

ZubWinMimeData::ZubWinMimeData(const QString& urlText)
    : m_urlText(urlText)
{
    setUrls({ QUrl(urlText) });
#ifdef Q_OS_WIN
    setData(FILE_NAME_FORMAT, urlText.toUtf8());
#endif
}

QStringList ZubWinMimeData::formats() const
{
#ifdef Q_OS_WIN
    return { FILE_NAME_FORMAT, "text/uri-list" };
#else
    return { "text/uri-list" };
#endif
}

bool ZubWinMimeData::hasFormat(const QString& mimeType) const
{
    return formats().contains(mimeType);
}

QVariant ZubWinMimeData::retrieveData(const QString& mimeType, QMetaType type) const
{
    if (mimeType == FILE_NAME_FORMAT && formats().contains(FILE_NAME_FORMAT)) {
        const QByteArray data = m_urlText.toUtf8();
        qCDebug(motifoDebug) << "mimetype matches,  data is" << data;
        return data;
    }
    const QVariant answer = QMimeData::retrieveData(mimeType, type);
    qCDebug(motifoDebug) << "mimetype:" << mimeType << "and data is" << answer;
    return answer;
}
