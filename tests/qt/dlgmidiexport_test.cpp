#include "qt/applicationfinder.h"
#include "qt/dlgmidiexport.h"
#include "qt/midiexportlistwidget.h"
#include "qt/zubwinmimedata.h"

#include <QLabel>
#include <QPushButton>
#include <QUrl>
#include <gtest/gtest.h>
#include <memory>

namespace {

TEST(DlgMidiExport, TextsForEveryApplicationNumber)
{
    ApplicationFinder::dawExecutablePaths() = { { 0, "/opt/live/Ableton Live 9.exe" }, { 8, "/opt/REAPER/reaper" } };
    struct Case { int app; QString title; QString step1; QString step2; QString launch; };
    const Case cases[] = {
        { 0, "MIDI Export to Ableton Live", "Step 1: Click the following button to launch Ableton Live.",
            "Step 2: Drag and drop the ideas below into Ableton Live.", "Launch Ableton Live" },
        { 8, "MIDI Export to REAPER", "Step 1: Click the following button to launch REAPER.",
            "Step 2: Drag and drop the ideas below into REAPER.", "Launch REAPER" },
        { 1, "MIDI Export to FL Studio", "", "Drag and drop the ideas below into FL Studio.", "" },
        { 2, "MIDI Export to Pro Tools", "", "Drag and drop the ideas below into Pro Tools.", "" },
        { 3, "MIDI Export to GarageBand", "", "Drag and drop the ideas below into a GarageBand project.", "" },
        { 4, "MIDI Export to Logic Pro", "", "Drag and drop the ideas below into Logic Pro.", "" },
        { 5, "MIDI Export to Cubase", "", "Drag and drop the ideas below into Cubase.", "" },
        { 6, "MIDI Export to Studio One", "", "Drag and drop the ideas below into Studio One.", "" },
        { 7, "MIDI Export to Reason", "", "Drag and drop the ideas below into Reason.", "" },
        { 9, "MIDI Export to Ardour", "", "Drag and drop the ideas below into Ardour.", "" },
        { 10, "MIDI Export to Bitwig Studio", "", "Drag and drop the ideas below into Bitwig Studio.", "" },
        { 42, "MIDI Export to your DAW", "", "Drag and drop the ideas below into your DAW.", "" },
        { -1, "MIDI Export to your DAW", "", "Drag and drop the ideas below into your DAW.", "" },
    };
    for (const Case& c : cases) {
        DlgMidiExport dlg(nullptr, {}, c.app, "/tmp");
        EXPECT_EQ(dlg.windowTitle(), c.title) << c.app;
        EXPECT_EQ(dlg.labelStep2()->text(), c.step2) << c.app;
        EXPECT_EQ(dlg.labelStep1() ? dlg.labelStep1()->text() : QString(), c.step1) << c.app;
        EXPECT_EQ(dlg.launchButton() ? dlg.launchButton()->text() : QString(), c.launch) << c.app;
        EXPECT_EQ(dlg.findChild<QPushButton*>("pushButtonLaunch") != nullptr, !c.launch.isEmpty()) << c.app;
    }
    ApplicationFinder::dawExecutablePaths().clear();
}

TEST(DlgMidiExport, OneVisibleItemPerIdeaInOrder)
{
    DlgMidiExport dlg(nullptr, { "Verse", "Chorus", "Empty idea" }, 5, "/tmp/x");
    MidiExportListWidget* list = dlg.listWidget();
    ASSERT_EQ(list->count(), 4);
    EXPECT_TRUE(list->item(0)->isHidden());
    QStringList visible;
    for (int i = 1; i < list->count(); ++i) {
        EXPECT_FALSE(list->item(i)->isHidden());
        EXPECT_FALSE(list->item(i)->icon().isNull());
        visible << list->item(i)->text();
    }
    EXPECT_EQ(visible, QStringList({ "Verse", "Chorus", "Empty idea" }));
    EXPECT_EQ(list->exportDir(), "/tmp/x");

    DlgMidiExport none(nullptr, {}, 5, "/tmp/x");
    EXPECT_EQ(none.listWidget()->count(), 1);
    EXPECT_TRUE(none.listWidget()->item(0)->isHidden());
}

TEST(DlgMidiExport, DraggingAnIdeaOffersItsMidiFileAsAUriList)
{
    DlgMidiExport dlg(nullptr, { "Verse", "My Song #2" }, 8, "/tmp/x");
    MidiExportListWidget* list = dlg.listWidget();
    struct Case { int row; QString url; };
    const Case cases[] = { { 1, "file:///tmp/x/Verse.mid" }, { 2, "file:///tmp/x/My%20Song%20%232.mid" } };
    for (const Case& c : cases) {
        std::unique_ptr<ZubWinMimeData> data(list->mimeDataForItem(list->item(c.row)));
        EXPECT_TRUE(data->hasFormat("text/uri-list"));
        ASSERT_EQ(data->urls().size(), 1);
        EXPECT_EQ(data->urls()[0].toString(QUrl::FullyEncoded), c.url);
        EXPECT_EQ(data->urls()[0].toLocalFile(), "/tmp/x/" + list->item(c.row)->text() + ".mid");
#ifdef Q_OS_WIN
        EXPECT_TRUE(data->hasFormat(ZubWinMimeData::FILE_NAME_FORMAT));
#else
        EXPECT_EQ(data->formats(), QStringList({ "text/uri-list" }));
        EXPECT_FALSE(data->hasFormat(ZubWinMimeData::FILE_NAME_FORMAT));
#endif
    }
}

TEST(ZubWinMimeData, FileNameFormatCarriesTheUrlText)
{
    ZubWinMimeData data("file:///C:/Temp/x/Verse.mid");
    EXPECT_EQ(ZubWinMimeData::FILE_NAME_FORMAT, "application/x-qt-windows-mime;value=\"FileName\"");
    EXPECT_EQ(data.urls().value(0).toString(), "file:///C:/Temp/x/Verse.mid");
#ifdef Q_OS_WIN
    EXPECT_EQ(data.data(ZubWinMimeData::FILE_NAME_FORMAT), QByteArray("file:///C:/Temp/x/Verse.mid"));
#endif
}

} // namespace
