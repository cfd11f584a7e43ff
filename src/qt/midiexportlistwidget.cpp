#include "qt/midiexportlistwidget.h"

#include "qt/qtloghandler.h"
#include "qt/zubicon.h"
#include "qt/zubwinmimedata.h"

#include <QDebug>
#include <QDrag>
#include <QFileInfo>
#include <QUrl>

MidiExportListWidget::MidiExportListWidget(QWidget* parent)
    : QListWidget(parent)
{
}

ZubWinMimeData* MidiExportListWidget::mimeDataForItem(const QListWidgetItem* item) const
{
    const QString file = m_exportDir + "/" + item->text() + ".mid";
    // fromLocalFile gives "file:///C:/x.mid" on Windows and "file:///tmp/x.mid"
    // here, where a plain "file:///" prefix would double the root slash.
    const QString urlText = QUrl::fromLocalFile(QFileInfo(file).absoluteFilePath()).toString();
    qCDebug(motifoDebug) << urlText;
    return new ZubWinMimeData(urlText);
}

void MidiExportListWidget::startDrag(Qt::DropActions)
{
    const QListWidgetItem* item = currentItem();
    if (!item)
        return;
    auto* drag = new QDrag(this);
    drag->setMimeData(mimeDataForItem(item));
    const QPixmap pixmap = ZubIcon::pixmap(128);
    drag->setPixmap(pixmap);
    const QPoint pos = mapFromGlobal(QCursor::pos());
    drag->setHotSpot(QPoint(pos.x() - (width() / 2 - pixmap.width() / 2), pos.y()));
    // A copy: a move would let a file manager take the exported file away.
    drag->exec(Qt::CopyAction);
}

void MidiExportListWidget::dragLeaveEvent(QDragLeaveEvent* event)
{
    qCDebug(motifoDebug) << "Drag leave";
    QListWidget::dragLeaveEvent(event);
}
