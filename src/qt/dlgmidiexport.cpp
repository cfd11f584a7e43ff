#include "qt/dlgmidiexport.h"

#include "qt/applicationfinder.h"
#include "qt/midiexportlistwidget.h"
#include "qt/zubicon.h"

#include <QDebug>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QSpacerItem>
#include <QVBoxLayout>

DlgMidiExport::DlgMidiExport(QWidget* parent, const QStringList& ideaNames, int midiExportApp, const QString& exportDir)
    : QDialog(parent)
    , m_iMidiExportApp(midiExportApp)
{
    buildForm();
    connect(m_pPushButtonLaunch, &QPushButton::clicked, this, &DlgMidiExport::launch);

    const QString name = applicationName(midiExportApp);
    const QString target = dropTarget(midiExportApp);
    setWindowTitle(tr("MIDI Export to %1").arg(name));
    m_pLabelStep1->setText(tr("Step 1: Click the following button to launch %1.").arg(name));
    m_pLabelStep2->setText(tr("Step 2: Drag and drop the ideas below into %1.").arg(target));
    m_pPushButtonLaunch->setText(tr("Launch %1").arg(name));
    if (ApplicationFinder::dawExecutablePaths().value(midiExportApp).isEmpty()) {
        delete m_pPushButtonLaunch;
        m_pPushButtonLaunch = nullptr;
        delete m_pLabelStep1;
        m_pLabelStep1 = nullptr;
        m_pLabelStep2->setText(tr("Drag and drop the ideas below into %1.").arg(target));
    }
    fillIdeas(ideaNames);
    m_pListWidget->setExportDir(exportDir);
    m_pListWidget->item(0)->setHidden(true);
}

QString DlgMidiExport::applicationName(int midiExportApp)
{
    switch (midiExportApp) {
    case ApplicationFinder::ABLETON_LIVE: return "Ableton Live";
    case ApplicationFinder::FL_STUDIO: return "FL Studio";
    case ApplicationFinder::PRO_TOOLS: return "Pro Tools";
    case ApplicationFinder::GARAGEBAND: return "GarageBand";
    case ApplicationFinder::LOGIC_PRO: return "Logic Pro";
    case ApplicationFinder::CUBASE: return "Cubase";
    case ApplicationFinder::STUDIO_ONE: return "Studio One";
    case ApplicationFinder::REASON: return "Reason";
    case ApplicationFinder::REAPER: return "REAPER";
    case ApplicationFinder::ARDOUR: return "Ardour";
    case ApplicationFinder::BITWIG_STUDIO: return "Bitwig Studio";
    default: return tr("your DAW");
    }
}

QString DlgMidiExport::dropTarget(int midiExportApp)
{
    return midiExportApp == ApplicationFinder::GARAGEBAND ? "a GarageBand project" : applicationName(midiExportApp);
}

void DlgMidiExport::buildForm()
{
    setObjectName("DlgMidiExport");
    resize(407, 348);
    setSizeGripEnabled(false);
    auto* verticalLayout = new QVBoxLayout(this);
    verticalLayout->setObjectName("verticalLayout");

    m_pLabelStep1 = new QLabel(this);
    m_pLabelStep1->setObjectName("labelStep1");
    verticalLayout->addWidget(m_pLabelStep1);

    auto* gridLayout = new QGridLayout;
    gridLayout->setObjectName("gridLayout");
    gridLayout->addItem(new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum), 1, 0);
    m_pPushButtonLaunch = new QPushButton(this);
    m_pPushButtonLaunch->setObjectName("pushButtonLaunch");
    gridLayout->addWidget(m_pPushButtonLaunch, 1, 1);
    gridLayout->addItem(new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum), 1, 2);
    verticalLayout->addLayout(gridLayout);

    m_pLabelStep2 = new QLabel(this);
    m_pLabelStep2->setObjectName("labelStep2");
    m_pLabelStep2->setWordWrap(true);
    m_pLabelStep2->setMaximumWidth(381);
    verticalLayout->addWidget(m_pLabelStep2);

    auto* list = m_pListWidget = new MidiExportListWidget(this);
    list->setObjectName("listWidget");
    list->setViewMode(QListView::IconMode);
    list->setIconSize(QSize(256, 128));
    list->setGridSize(QSize(379, 150));
    list->setFlow(QListView::LeftToRight);
    list->setResizeMode(QListView::Adjust);
    list->setMovement(QListView::Free);
    list->setLayoutMode(QListView::SinglePass);
    list->setTextElideMode(Qt::ElideRight);
    list->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    list->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    list->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    list->setAutoScroll(false);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->setTabKeyNavigation(false);
    list->setDropIndicatorShown(false);
    list->setDragEnabled(true);
    list->setDragDropMode(QAbstractItemView::DragDrop);
    list->setDefaultDropAction(Qt::CopyAction);
    list->setUniformItemSizes(false);
    list->setSelectionRectVisible(false);
    auto* templateItem = new QListWidgetItem(QIcon(ZubIcon::pixmap(512)), "My Song");
    list->addItem(templateItem);
    verticalLayout->addWidget(list);

    m_pButtonBox = new QDialogButtonBox(QDialogButtonBox::Close, Qt::Horizontal, this);
    m_pButtonBox->setObjectName("buttonBox");
    verticalLayout->addWidget(m_pButtonBox);
    connect(m_pButtonBox, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(m_pButtonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

void DlgMidiExport::fillIdeas(const QStringList& ideaNames)
{
    const QListWidgetItem* templateItem = m_pListWidget->item(0);
    for (const QString& name : ideaNames) {
        QListWidgetItem* item = templateItem->clone();
        item->setText(name);
        m_pListWidget->addItem(item);
    }
}

void DlgMidiExport::launch()
{
    const QString path = ApplicationFinder::dawExecutablePaths().value(m_iMidiExportApp);
    // Started on its own, so it outlives this program.
    QProcess::startDetached(path, {});
    qDebug() << "Launching" << path;
}
