#pragma once

#include <QListWidget>

class ZubWinMimeData;

// The ideas of the MIDI export dialog; dragging one offers its .mid file.
class MidiExportListWidget : public QListWidget
{
    Q_OBJECT
public:
    explicit MidiExportListWidget(QWidget* parent = nullptr);

    void setExportDir(const QString& dir) { m_exportDir = dir; }
    QString exportDir() const { return m_exportDir; }

    // The drag data for an item: "<export folder>/<item text>.mid" as a file URL.
    ZubWinMimeData* mimeDataForItem(const QListWidgetItem* item) const;

protected:
    void startDrag(Qt::DropActions supportedActions) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;

private:
    QString m_exportDir;
};
