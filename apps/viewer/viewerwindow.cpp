#include "viewerwindow.h"

#include "streamsview.h"

#include "connection/channel.h"
#include "connection/viewmanager.h"
#include "connection/viewpage.h"
#include "recording/discwriterplugin.h"
#include "recording/recordfile.h"
#include "snapshot/snapshotmgr.h"
#include "snapshot/snapshotrequester.h"
#include "utilif/iqtcp.h"
#include "utilif/savable.h"
#include "utilif/substitutablewidget.h"
#include "utilif/wholefile.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QDockWidget>
#include <QGroupBox>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPixmap>
#include <QScrollArea>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <cstdio>

namespace {

const char* const severityColour[] = {"", "#b36b00", "#c00000"};

// Lays out the snapshot controls of a data group's managers. The controls belong to their managers: they are
// handed back (without parent, hidden) when the dialog goes, whatever way it goes.
class SnapshotSettingsDialog : public QDialog
{
public:
    SnapshotSettingsDialog(QWidget* parent, const QString& title, const QList<SnapshotMgr*>& managers) : QDialog(parent)
    {
        setWindowTitle(title);
        auto* layout = new QVBoxLayout(this);
        auto* grid = new QGridLayout;
        layout->addLayout(grid);
        const char* const headers[] = {"Name",          "Graphics",   "ASCII raw",    "Binary raw",
                                       "CSV displayed", "Continuous", "Snapshot name"};
        for (int c = 0; c < 7; ++c)
            grid->addWidget(new QLabel(QString::fromLatin1(headers[c]), this), 0, c);
        int row = 1;
        for (SnapshotMgr* m : managers) {
            QWidget** controls = m->getControls();
            grid->addWidget(new QLabel(m->getFullName().isEmpty() ? m->getName() : m->getFullName(), this), row, 0);
            for (int c = 0; c < 6; ++c) {
                if (!controls || !controls[c])
                    continue;
                grid->addWidget(controls[c], row, c + 1);
                controls[c]->show();
                handedOut << QPointer<QWidget>(controls[c]);
            }
            ++row;
        }
        if (managers.isEmpty())
            grid->addWidget(new QLabel(QStringLiteral("No snapshot managers serve this group."), this), row, 0, 1, 7);
        auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
        connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
        layout->addWidget(buttons);
    }

    ~SnapshotSettingsDialog() override
    {
        for (const QPointer<QWidget>& w : handedOut) {
            if (w) {
                w->hide();
                w->setParent(nullptr);
            }
        }
    }

private:
    QList<QPointer<QWidget>> handedOut;
};

} // namespace

ViewerWindow::ViewerWindow(QWidget* parent) : QMainWindow(parent)
{
    record = {&prefs.graphicType, &prefs.snapshotDir, &prefs.ascMatrix,    &prefs.csvFlag,      &prefs.detachOnTop,
              &prefs.reserved1,   &prefs.reserved2,   &prefs.layoutMargin, &prefs.layoutSpacing};
    GPlugin::setPrefs(&record);
    SnapshotMgr::setBackgroundSwitch(&prefs.backgroundStorage);
    globalSequence = std::make_unique<Savable>(this, QStringLiteral("GlobalSequenceNumber"), QStringLiteral("Viewer"),
                                               false, nullptr, "1");
    setWindowTitle(QStringLiteral("Orvik Viewer"));
    streamsDockWidget = new QDockWidget(QStringLiteral("Streams"), this);
    streamsDockWidget->setObjectName(QStringLiteral("StreamsDock"));
    streamsView = new StreamsView(streamsDockWidget);
    streamsDockWidget->setWidget(streamsView);
    addDockWidget(Qt::BottomDockWidgetArea, streamsDockWidget);
    streamsDockWidget->hide();
    buildMenus();
    buildStatusBar();
    healthTimer = new QTimer(this);
    healthTimer->setInterval(500);
    connect(healthTimer, &QTimer::timeout, this, &ViewerWindow::refreshHealth);
    healthTimer->start();
    resize(1280, 860);
}

ViewerWindow::~ViewerWindow()
{
    teardown();
}

void ViewerWindow::buildMenus()
{
    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    file->addAction(QStringLiteral("&Open layout..."), this, &ViewerWindow::openLayout, QKeySequence::Open);
    file->addAction(QStringLiteral("Open &recording..."), this, &ViewerWindow::openRecording);
    file->addAction(QStringLiteral("Save &screenshot..."), this, [this] {
        const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Save screenshot"), QString(),
                                                          QStringLiteral("PNG images (*.png)"));
        QString error;
        if (!path.isEmpty() && !saveScreenshot(path, &error))
            showStatus(error, -1, 2);
    });
    file->addSeparator();
    file->addAction(QStringLiteral("&Quit"), this, &QWidget::close, QKeySequence::Quit);

    QMenu* connection = menuBar()->addMenu(QStringLiteral("&Connection"));
    connection->addAction(QStringLiteral("&Connect to server..."), this, &ViewerWindow::connectDialog);

    QMenu* snapshots = menuBar()->addMenu(QStringLiteral("&Snapshots"));
    snapshots->addAction(QStringLiteral("Store &now (all pages)"), this, &ViewerWindow::storeNow);
    snapshots->addAction(QStringLiteral("Store when complete &next time"), this, &ViewerWindow::storeNext);
    storeAlwaysAction = snapshots->addAction(QStringLiteral("Store &always when complete"));
    storeAlwaysAction->setCheckable(true);
    connect(storeAlwaysAction, &QAction::toggled, this, &ViewerWindow::storeAlways);
    snapshots->addSeparator();
    QMenu* groupMenu = snapshots->addMenu(QStringLiteral("Snapshot &settings of group"));
    connect(groupMenu, &QMenu::aboutToShow, this, [this, groupMenu] {
        groupMenu->clear();
        if (!groups)
            return;
        for (const DataGroup& g : *groups)
            groupMenu->addAction(g.name, this, [this, n = g.groupNumber] { channelDialogForGroup(n); });
    });

    QMenu* view = menuBar()->addMenu(QStringLiteral("&View"));
    tabsAction = view->addAction(QStringLiteral("Pages in &tabs"));
    tabsAction->setCheckable(true);
    connect(tabsAction, &QAction::toggled, this, &ViewerWindow::setTabbed);
    displayMenu = view->addMenu(QStringLiteral("&Displays"));
    QAction* streams = streamsDockWidget->toggleViewAction();
    streams->setText(QStringLiteral("&Streams"));
    streams->setToolTip(QStringLiteral("Stream health of every subscribed channel"));
    view->addAction(streams);
    connect(streams, &QAction::toggled, this, [this](bool on) {
        if (on)
            refreshHealth();
    });
    connect(displayMenu, &QMenu::aboutToShow, this, &ViewerWindow::rebuildDisplayMenu);

    QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
    help->addAction(QStringLiteral("Plug-in &catalogue"), this, &ViewerWindow::showCatalogue);
    help->addAction(QStringLiteral("&About Orvik View"), this, &ViewerWindow::showAbout);
}

void ViewerWindow::buildStatusBar()
{
    messageLabel = new QLabel(this);
    connectionLabel = new QLabel(QStringLiteral("Not connected"), this);
    receivingLabel = new QLabel(QStringLiteral("Receiving"), this);
    overloadLabel = new QLabel(QStringLiteral("Overload"), this);
    sequenceLabel = new QLabel(this);
    receivingLabel->setToolTip(QStringLiteral("Receiving: data arrived in the last 200 ms\n"
                                              "Idle: no data expected (nothing arrived yet)\n"
                                              "Stalled: a stream that was live has stopped"));
    overloadLabel->setToolTip(
        QStringLiteral("The viewer fell behind the server: the server was held back and may have dropped data"));
    showProtocolErrors(0);
    sequenceLabel->setToolTip(QStringLiteral("Sequence number of the next global snapshot"));
    for (QLabel* l : {receivingLabel, overloadLabel})
        l->setMargin(2);
    statusBar()->addWidget(messageLabel, 1);
    statusBar()->addPermanentWidget(connectionLabel);
    statusBar()->addPermanentWidget(receivingLabel);
    statusBar()->addPermanentWidget(overloadLabel);
    statusBar()->addPermanentWidget(sequenceLabel);
    messageTimer = new QTimer(this);
    messageTimer->setSingleShot(true);
    connect(messageTimer, &QTimer::timeout, messageLabel, &QLabel::clear);
    setReceiving(false);
    setOverload(false);
    globalSequenceChanged(globalSequence->toInt());
}

void ViewerWindow::teardown()
{
    for (const QPointer<QWidget>& d : dialogs)
        delete d.data();
    dialogs.clear();
    if (viewManager) {
        // Closing the connection on purpose is not news for the status bar.
        disconnect(viewManager, nullptr, this, nullptr);
        if (viewManager->connection())
            disconnect(viewManager->connection(), nullptr, this, nullptr);
        for (ViewPage* p : pageList)
            viewManager->removePage(p);
    }
    // Pages first (their requesters disarm in the managers), then the manager with the channels.
    qDeleteAll(pageList);
    pageList.clear();
    delete requester;
    requester = nullptr;
    delete viewManager;
    viewManager = nullptr;
    connectedFlag = false;
    delete pageArea;
    pageArea = nullptr;
}

bool ViewerWindow::loadLayout(const ViewerLayout& layout, QString* error)
{
    if (layout.pages.size() > LayoutFile::maxPages) {
        if (error)
            *error = QStringLiteral("pages: %1 pages are more than the %2 a layout may have")
                         .arg(layout.pages.size())
                         .arg(LayoutFile::maxPages);
        return false;
    }
    // Build the new pages beside the old ones, so that a failure leaves the running layout untouched.
    const HostPrefs oldPrefs = prefs;
    prefs = layout.prefs;
    if (!snapshotDirOverride.isEmpty())
        prefs.snapshotDir = snapshotDirOverride;
    auto newGroups = std::make_unique<QMap<int, DataGroup>>(layout.groups);
    QList<ViewPage*> newPages;
    // Channel numbers written for the new pages, with the values they replace, to put back on failure.
    QList<QPair<QString, QString>> replacedChannels;
    for (int i = 0; i < layout.pages.size(); ++i) {
        const PageLayout& spec = layout.pages.at(i);
        // The page restores its channel from "ChannelNumber" once the event loop runs; a channel named in the
        // layout is put there first, so that it wins over the one chosen in an earlier session.
        if (spec.channel >= 0) {
            Savable channel(nullptr, QStringLiteral("ChannelNumber"), spec.name, false, nullptr);
            replacedChannels.append({spec.name, channel.storedValue()});
            channel.setValue(spec.channel);
        }
        // Plug-ins restore their settings the same way: the layout's initial values go in where none are stored.
        for (const ChainEntry& e : spec.chain) {
            for (int k = 0; k < e.settingKeys.size(); ++k) {
                Savable setting(nullptr, e.settingKeys.at(k), e.name, false, nullptr);
                if (setting.storedValue().isNull())
                    setting.setValue(e.settingValues.at(k));
            }
        }
        auto* page = new ViewPage(nullptr, spec.name, *newGroups, spec.leftAligned);
        newPages << page;
        for (int k = 0; k < spec.chain.size(); ++k) {
            const ChainEntry& e = spec.chain.at(k);
            GPlugin* plugin = page->addPlugin(e.type, e.name, e.keys, e.values);
            if (plugin && !e.display.isEmpty()) {
                // Now, and again after the persisted settings are restored (once the event loop runs).
                plugin->applyDisplayState(e.display);
                const QVariantMap state = e.display;
                QTimer::singleShot(0, plugin, [plugin, state] { plugin->applyDisplayState(state); });
            }
            if (!plugin) {
                if (error)
                    *error = QStringLiteral("pages[%1].chain[%2]: the plug-in \"%3\" of type \"%4\" could not be "
                                            "created")
                                 .arg(i)
                                 .arg(k)
                                 .arg(e.name, e.type);
                qDeleteAll(newPages);
                prefs = oldPrefs;
                for (const auto& r : replacedChannels) {
                    if (!r.second.isNull())
                        Savable(nullptr, QStringLiteral("ChannelNumber"), r.first, false, nullptr).setValue(r.second);
                }
                return false;
            }
        }
    }

    teardown();
    current = layout;
    groups = std::move(newGroups);
    pageList = newPages;
    setWindowTitle(layout.title.isEmpty() ? QStringLiteral("Orvik Viewer")
                                          : QStringLiteral("%1 - Orvik Viewer").arg(layout.title));

    viewManager = new ViewManager(&record, layout.lossless, this);
    connect(viewManager, &ViewManager::statusChanged, this, &ViewerWindow::showStatus);
    connect(viewManager, &ViewManager::receiving, this, &ViewerWindow::setReceiving);
    connect(viewManager, &ViewManager::overload, this, &ViewerWindow::setOverload);
    connect(viewManager, &ViewManager::protocolErrors, this, &ViewerWindow::showProtocolErrors);
    showProtocolErrors(0);
    if (IQTcp* tcp = viewManager->connection()) {
        connect(tcp, &IQTcp::connected, this, &ViewerWindow::connectionChanged);
        connect(tcp, &IQTcp::error, this, &ViewerWindow::connectionError);
    }
    viewManager->setChannelCount(layout.channelCount, layout.unsubscribed, *groups);

    requester = new SnapshotRequester(QStringLiteral("All"), *groups, nullptr, this);
    QList<DataGroup::FragDGroupId> all;
    for (const DataGroup& g : *groups)
        all.append({g.groupNumber, -1});
    requester->setDataGroups(all);
    requester->setSequenceNumber(globalSequence->toInt());
    connect(requester, &SnapshotRequester::seqNumberChanged, this, &ViewerWindow::globalSequenceChanged);

    for (int i = 0; i < pageList.size(); ++i) {
        ViewPage* page = pageList.at(i);
        const PageLayout& spec = layout.pages.at(i);
        connect(page, &ViewPage::statusChanged, this, &ViewerWindow::showStatus);
        connect(page, &ViewPage::searchPluginIn, this, &ViewerWindow::relaySearch);
        connect(page, &ViewPage::channelDialogRequestByDGroup, this, &ViewerWindow::channelDialogForGroup);
        // The requester expects the answer before emit returns.
        connect(page->getRequester(), &SnapshotRequester::reqSeqNumberUpdate, this, &ViewerWindow::answerSequenceNumber,
                Qt::DirectConnection);
        page->setSignalList(layout.signalList);
        page->setSelectMode(spec.selectMode);
        if (spec.group >= 0)
            page->setDataGroup(spec.group);
        page->showChannelControls(spec.showSource, spec.showSampleTime, spec.showAverage);
        page->showSnapshotButtons(spec.snapshotButtons);
        viewManager->addPage(page);
    }
    nameSnapshotManagers();
    tabbed = layout.tabs;
    {
        const QSignalBlocker block(tabsAction);
        tabsAction->setChecked(tabbed);
    }
    placePages();
    if (!serverHost.isEmpty())
        connectTo(serverHost, serverPort);
    emit layoutLoaded();
    return true;
}

void ViewerWindow::nameSnapshotManagers()
{
    // Snapshot names start empty, which gives file names such as "Scan_001--.csv". Managers that were never
    // named get a readable default; a name the user gave (persisted) is left alone.
    auto nameIfUnset = [](SnapshotMgr* m, const QString& group, QString name) {
        if (!m || !m->getName().isEmpty() ||
            !Savable(nullptr, QStringLiteral("SnapshotName"), group, false, nullptr).storedValue().isNull())
            return;
        for (QChar& c : name) {
            if (!c.isLetterOrNumber() && !QStringLiteral("_-+$=# ").contains(c))
                c = QLatin1Char('_');
        }
        m->setName(name);
    };
    for (Channel* c : viewManager->getChannels())
        nameIfUnset(c->getSnapshotManager(), QStringLiteral("Channel_%1").arg(c->getNumber()),
                    QStringLiteral("Ch%1").arg(c->getNumber()));
    for (ViewPage* p : pageList) {
        for (GPlugin* g = p->getReceiver(); g; g = g->getSuccessor())
            nameIfUnset(g->getSnapshotManager(), g->getName(), g->getName());
    }
}

void ViewerWindow::placePages()
{
    // Take the pages out of the old area before it goes, so that they survive it.
    for (ViewPage* p : pageList)
        p->setParent(nullptr);
    delete pageArea;
    if (tabbed) {
        auto* tabs = new QTabWidget(this);
        for (ViewPage* p : pageList)
            tabs->addTab(p, p->getName());
        pageArea = tabs;
        pageTabs = tabs;
        pageBoxes.clear();
    } else {
        auto* scroll = new QScrollArea(this);
        scroll->setWidgetResizable(true);
        auto* inner = new QWidget(scroll);
        auto* grid = new QGridLayout(inner);
        const int columns = qMax(1, current.columns);
        pageBoxes.clear();
        pageTabs = nullptr;
        // In the grid a titled frame names each page (the tabs carry the names otherwise).
        for (int i = 0; i < pageList.size(); ++i) {
            auto* box = new QGroupBox(pageList.at(i)->getName(), inner);
            pageBoxes << box;
            auto* boxLayout = new QVBoxLayout(box);
            boxLayout->setContentsMargins(2, 2, 2, 2);
            boxLayout->addWidget(pageList.at(i));
            pageList.at(i)->show();
            grid->addWidget(box, i / columns, i % columns);
        }
        scroll->setWidget(inner);
        pageArea = scroll;
    }
    setCentralWidget(pageArea);
}

void ViewerWindow::setTabbed(bool tabs)
{
    if (tabs == tabbed)
        return;
    tabbed = tabs;
    placePages();
}

void ViewerWindow::rebuildDisplayMenu()
{
    displayMenu->clear();
    // Walk the chains rather than the pages' children: a detached display lives in a window of its own.
    for (ViewPage* p : pageList) {
        for (GPlugin* g = p->getReceiver(); g; g = g->getSuccessor()) {
            auto* w = qobject_cast<SubstitutableWidget*>(g->getWidget());
            if (!w)
                continue;
            QAction* a = displayMenu->addAction(QString());
            w->updateDetachMenuItem(a);
            a->setText(QStringLiteral("%1 / %2: %3").arg(p->getName(), g->getName(), a->text()));
        }
    }
    if (displayMenu->isEmpty())
        displayMenu->addAction(QStringLiteral("(no detachable displays)"))->setEnabled(false);
}

void ViewerWindow::connectTo(const QString& host, quint16 port)
{
    serverHost = host;
    serverPort = port;
    connectedFlag = false;
    connectionLabel->setText(QStringLiteral("Connecting to %1:%2").arg(host).arg(port));
    if (viewManager)
        viewManager->connectToServer(host, port);
}

void ViewerWindow::stopConnection()
{
    if (!viewManager)
        return;
    if (viewManager->connection())
        disconnect(viewManager->connection(), nullptr, this, nullptr);
    viewManager->stop();
    connectedFlag = false;
    connectionLabel->setText(QStringLiteral("Not connected"));
}

void ViewerWindow::setSnapshotDir(const QString& dir)
{
    snapshotDirOverride = dir;
    prefs.snapshotDir = dir;
}

QString ViewerWindow::statusText() const
{
    return messageLabel->text();
}

QString ViewerWindow::connectionText() const
{
    return connectionLabel->text();
}

void ViewerWindow::showStatus(QString text, int displayTime, int severity)
{
    const int s = qBound(0, severity, 2);
    messageLabel->setText(text.simplified());
    messageLabel->setStyleSheet(s ? QStringLiteral("color: %1").arg(QLatin1String(severityColour[s])) : QString());
    messageLabel->setToolTip(text);
    if (displayTime > 0)
        messageTimer->start(displayTime);
    else
        messageTimer->stop();
    if (echoStatus) {
        static const char* const prefix[] = {"", "warning: ", "error: "};
        std::fprintf(stderr, "%s%s\n", prefix[s], qPrintable(text));
        std::fflush(stderr);
    }
}

void ViewerWindow::connectionChanged(bool up)
{
    connectedFlag = up;
    const QString where = QStringLiteral("%1:%2").arg(serverHost).arg(serverPort);
    if (up) {
        connectionLabel->setText(QStringLiteral("Connected to %1").arg(where));
        showStatus(QStringLiteral("Connected to %1").arg(where), 5000, 0);
    } else {
        connectionLabel->setText(QStringLiteral("Connection to %1 lost, reconnecting").arg(where));
        showStatus(QStringLiteral("Connection to %1 lost; reconnecting").arg(where), -1, 1);
    }
}

void ViewerWindow::connectionError()
{
    if (connectedFlag)
        return;
    const QString where = QStringLiteral("%1:%2").arg(serverHost).arg(serverPort);
    const QString text = QStringLiteral("No server at %1; retrying").arg(where);
    // Say it once per outage, not at every retry.
    if (connectionLabel->text() != text) {
        connectionLabel->setText(text);
        showStatus(text, -1, 1);
    }
}

void ViewerWindow::setReceiving(bool on)
{
    receivingNow = on;
    const QString text = receivingText();
    receivingLabel->setText(text);
    receivingLabel->setStyleSheet(text == QLatin1String("Receiving") ? QStringLiteral("background: #2e9d3a; color: white")
                                  : text == QLatin1String("Stalled") ? QStringLiteral("background: #e08a00; color: white")
                                                                     : QStringLiteral("color: gray"));
}

QVector<Channel*> ViewerWindow::subscribedChannels() const
{
    if (!viewManager)
        return {};
    const QVector<Channel*>& all = viewManager->getChannels();
    return all.mid(0, qMax(0, qMin(int(all.size()), current.channelCount - current.unsubscribed)));
}

QString ViewerWindow::receivingText() const
{
    if (receivingNow)
        return QStringLiteral("Receiving");
    // Stalled: a stream that was live has gone quiet for longer than its frame period; idle: nothing came yet or
    // every stream ended without anyone waiting for it.
    for (const Channel* c : subscribedChannels())
        if (c->health().state() == ChannelHealth::Stale)
            return QStringLiteral("Stalled");
    return QStringLiteral("Idle");
}

QString ViewerWindow::pageTitle(int page) const
{
    if (page < 0 || page >= pageList.size())
        return QString();
    const ViewPage* p = pageList.at(page);
    const int number = p->getChannelNo();
    const QVector<Channel*> channels = subscribedChannels();
    if (number >= 0 && number < channels.size()) {
        const ChannelHealth h = channels.at(number)->health();
        if (h.state() == ChannelHealth::Stale)
            return QStringLiteral("%1  \u26a0 stale: no data for %2 s")
                .arg(p->getName())
                .arg(h.msSinceLastBlock / 1000.0, 0, 'f', 1);
    }
    return p->getName();
}

QStringList ViewerWindow::healthSummary() const
{
    QStringList lines;
    for (const Channel* c : subscribedChannels())
        lines << StreamsView::summaryLine(c->getNumber(), c->getName(), c->health());
    return lines;
}

void ViewerWindow::refreshHealth()
{
    if (!streamsDockWidget->isHidden())
        streamsView->refresh(subscribedChannels());
    for (int i = 0; i < pageList.size(); ++i) {
        const QString title = pageTitle(i);
        if (i < pageBoxes.size() && pageBoxes.at(i) && pageBoxes.at(i)->title() != title)
            pageBoxes.at(i)->setTitle(title);
        if (pageTabs && i < pageTabs->count() && pageTabs->tabText(i) != title)
            pageTabs->setTabText(i, title);
    }
    setReceiving(receivingNow);
}

void ViewerWindow::showProtocolErrors(int count)
{
    // Each one closed the connection, which was then opened again: rare, but worth knowing about.
    connectionLabel->setToolTip(
        QStringLiteral("Protocol errors in the server's stream since the layout was loaded: %1").arg(count));
}

void ViewerWindow::setOverload(bool on)
{
    overloadLabel->setStyleSheet(on ? QStringLiteral("background: #c00000; color: white")
                                    : QStringLiteral("color: gray"));
}

void ViewerWindow::globalSequenceChanged(int number)
{
    sequenceLabel->setText(QStringLiteral("Seq %1").arg(number));
    if (globalSequence->toInt() != number)
        globalSequence->setValue(number);
}

void ViewerWindow::relaySearch(QString name, GPlugin* ptr)
{
    // Every page hears every partner search, its own included (a fork and its union may share a page).
    const QList<ViewPage*> targets = pageList;
    for (ViewPage* p : targets)
        emit p->searchPluginOut(name, ptr);
}

Savable& ViewerWindow::sequenceSetting(int group) const
{
    std::shared_ptr<Savable>& s = sequenceSettings[group];
    if (!s) {
        s = std::make_shared<Savable>(const_cast<ViewerWindow*>(this), QStringLiteral("SequenceNumber"),
                                      QStringLiteral("Viewer.Group%1").arg(group), false, nullptr, "1");
        bool ok = false;
        const int stored = s->storedValue().toInt(&ok);
        if (ok && stored >= 0)
            s->setValue(stored);
    }
    return *s;
}

int ViewerWindow::sequenceNumber(int group) const
{
    return sequenceSetting(group).toInt();
}

void ViewerWindow::answerSequenceNumber(int dGroup, int* usedNo)
{
    if (!usedNo)
        return;
    Savable& s = sequenceSetting(dGroup);
    int next = s.toInt();
    // -1: the number for a new request; otherwise the number a store just used, so the next one follows it.
    if (*usedNo >= 0 && *usedNo >= next)
        next = *usedNo + 1;
    if (next != s.toInt())
        s.setValue(next);
    *usedNo = next;
}

void ViewerWindow::storeAllPagesNow()
{
    for (ViewPage* p : pageList)
        p->getRequester()->requestImmediate();
}

int ViewerWindow::runningStores()
{
    int n = 0;
    for (SnapshotMgr* m : SnapshotMgr::_snapshotList)
        n += m->runningThreads();
    return n;
}

void ViewerWindow::storeNow()
{
    if (requester)
        requester->requestImmediate();
}

void ViewerWindow::storeNext()
{
    if (requester)
        requester->requestDelayed();
}

void ViewerWindow::storeAlways(bool on)
{
    if (requester)
        requester->requestPerm(on);
}

bool ViewerWindow::saveScreenshot(const QString& path, QString* error)
{
    const QPixmap shot = grab();
    if (shot.isNull() || !WholeFile::saveImage(shot.toImage(), path, "PNG")) {
        if (error)
            *error = QStringLiteral("Could not write the screenshot to %1").arg(path);
        return false;
    }
    return true;
}

void ViewerWindow::openLayout()
{
    const QString path = QFileDialog::getOpenFileName(this, QStringLiteral("Open layout"), QString(),
                                                      QStringLiteral("Layouts (*.json);;All files (*)"));
    if (path.isEmpty())
        return;
    auto refuse = [this](const QString& error) {
        showStatus(error, -1, 2);
        QMessageBox::critical(this, QStringLiteral("Error"), error);
    };
    ViewerLayout layout;
    QString error;
    if (!LayoutFile::load(path, &layout, &error)) {
        refuse(error);
        return;
    }
    // A layout that names its server brings the viewer there; otherwise it stays with the current one.
    const QString oldHost = serverHost;
    const quint16 oldPort = serverPort;
    if (!layout.host.isEmpty()) {
        serverHost = layout.host;
        serverPort = quint16(layout.port);
    }
    if (!loadLayout(layout, &error)) {
        serverHost = oldHost;
        serverPort = oldPort;
        refuse(error);
    }
}

void ViewerWindow::connectDialog()
{
    bool ok = false;
    const QString text = QInputDialog::getText(
        this, QStringLiteral("Connect to server"), QStringLiteral("Server (host:port):"), QLineEdit::Normal,
        serverHost.isEmpty() ? QStringLiteral("127.0.0.1:") : QStringLiteral("%1:%2").arg(serverHost).arg(serverPort),
        &ok);
    if (!ok)
        return;
    const int colon = text.lastIndexOf(QLatin1Char(':'));
    const uint port = text.mid(colon + 1).toUInt(&ok);
    if (colon <= 0 || !ok || port < 1 || port > 65535) {
        showStatus(QStringLiteral("Not a server address: \"%1\" (expected host:port)").arg(text), -1, 2);
        return;
    }
    QString host = text.left(colon);
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    // A new manager for the new server: the channels start afresh with its configuration.
    serverHost = host;
    serverPort = quint16(port);
    const ViewerLayout layout = current;
    QString error;
    if (!loadLayout(layout, &error))
        showStatus(error, -1, 2);
}

QString ViewerWindow::aboutText()
{
    return QStringLiteral("<h3>Orvik View %1</h3>"
                          "<p>Shows live measurement data of an acquisition server: scans, lines, spectra and "
                          "histograms, with snapshots and recordings.</p>"
                          "<p>Built with Qt %2. Released under the MIT licence.</p>")
        .arg(QStringLiteral(ORVIK_VERSION), QString::fromLatin1(qVersion()));
}

void ViewerWindow::showAbout()
{
    QMessageBox::about(this, QStringLiteral("About Orvik View"), aboutText());
}

void ViewerWindow::showCatalogue()
{
    auto* dialog = new QDialog(this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowTitle(QStringLiteral("Plug-in catalogue"));
    auto* layout = new QVBoxLayout(dialog);
    auto* table = new QTableWidget(dialog);
    table->setColumnCount(3);
    table->setHorizontalHeaderLabels({QStringLiteral("Type"), QStringLiteral("Description"), QStringLiteral("Flags")});
    const QList<const GPlugin::PluginDescriptor*>* registry = ViewPage::getPluginTypes();
    const QList<const GPlugin::PluginDescriptor*> types =
        registry ? *registry : QList<const GPlugin::PluginDescriptor*>();
    table->setRowCount(types.size());
    for (int i = 0; i < types.size(); ++i) {
        table->setItem(i, 0, new QTableWidgetItem(types.at(i)->name));
        table->setItem(i, 1, new QTableWidgetItem(types.at(i)->description));
        table->setItem(i, 2, new QTableWidgetItem(QStringLiteral("0x%1").arg(types.at(i)->flags, 0, 16)));
    }
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->horizontalHeader()->setStretchLastSection(false);
    table->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Stretch);
    table->resizeColumnsToContents();
    layout->addWidget(table);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, dialog);
    connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    layout->addWidget(buttons);
    dialog->resize(700, 420);
    dialogs << dialog;
    dialog->show();
}

void ViewerWindow::channelDialogForGroup(int dGroup)
{
    QList<SnapshotMgr*> managers;
    for (SnapshotMgr* m : SnapshotMgr::_snapshotList) {
        if (m->getDataGroup() == dGroup)
            managers << m;
    }
    const QString groupName =
        groups && groups->contains(dGroup) ? groups->value(dGroup).name : QStringLiteral("%1").arg(dGroup);
    auto* dialog = new SnapshotSettingsDialog(this, QStringLiteral("Snapshot settings: %1").arg(groupName), managers);
    dialog->setObjectName(QStringLiteral("SnapshotSettings"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialogs << dialog;
    dialog->show();
}

void ViewerWindow::closeEvent(QCloseEvent* event)
{
    emit closed();
    event->accept();
}

bool ViewerWindow::recordedOrder(const QString& file, int* order, QString* error)
{
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read the recording %1: %2").arg(file, f.errorString());
        return false;
    }
    *order = -1;
    RecordReader reader(&f);
    // The properties come before the first data record; a few thousand records are plenty to find the order.
    for (int i = 0; i < 4096; ++i) {
        const RecordReader::Status status = reader.next();
        if (status == RecordReader::End)
            break;
        if (status != RecordReader::Ok) {
            if (i == 0) {
                *error = QStringLiteral("%1 is not a binary disc-writer recording: %2")
                             .arg(file, RecordReader::message(status).simplified());
                return false;
            }
            break;
        }
        if (reader.type() == StreamFormat::info(StreamFormat::Order).recordType) {
            *order = reader.words()[0];
            break;
        }
        if (reader.type() == StreamFormat::RecData)
            break;
    }
    return true;
}

bool ViewerWindow::startReplay(const QString& file, QString* error)
{
    QList<DiscWriterPlugin*> writers;
    for (ViewPage* p : pageList) {
        if (auto* w = qobject_cast<DiscWriterPlugin*>(p->getReceiver()))
            writers << w;
    }
    if (writers.isEmpty()) {
        *error = QStringLiteral("no page starts with a \"Disc Writer\" to replay %1").arg(file);
        return false;
    }
    for (DiscWriterPlugin* w : writers) {
        w->openInFile(file);
        if (w->inFileName().isEmpty()) {
            *error = QStringLiteral("cannot open the recording %1").arg(file);
            return false;
        }
        connect(w, &DiscWriterPlugin::readingChanged, this, [this](bool on) {
            if (!on && runningReplays() == 0)
                emit replayFinished();
        });
    }
    // Offline no server assigns the channels to their data groups; the snapshot managers of the pages need one.
    if (viewManager && groups && !groups->isEmpty()) {
        for (Channel* c : viewManager->getChannels()) {
            if (c->getDataGroup() < 0)
                c->setDataGroup(groups->firstKey());
        }
        for (ViewPage* p : pageList)
            p->updateSnapshotMgrs();
    }
    for (DiscWriterPlugin* w : writers)
        w->startRead(true);
    return true;
}

int ViewerWindow::runningReplays() const
{
    int n = 0;
    for (ViewPage* p : pageList) {
        if (auto* w = qobject_cast<DiscWriterPlugin*>(p->getReceiver()))
            n += w->isReplaying() ? 1 : 0;
    }
    return n;
}

void ViewerWindow::openRecording()
{
    const QString path = QFileDialog::getOpenFileName(this, QStringLiteral("Open recording"), prefs.snapshotDir,
                                                      QStringLiteral("Recordings (*.txt *.dat *.bin);;All files (*)"));
    if (path.isEmpty())
        return;
    auto refuse = [this](const QString& error) {
        showStatus(error, -1, 2);
        QMessageBox::critical(this, QStringLiteral("Error"), error);
    };
    int order = -1;
    QString error;
    ViewerLayout layout;
    if (!recordedOrder(path, &order, &error) ||
        !LayoutFile::parse(LayoutFile::replayLayout(order), QStringLiteral("<replay layout>"), &layout, &error)) {
        refuse(error);
        return;
    }
    // A replay runs offline: the viewer leaves the server.
    serverHost.clear();
    serverPort = 0;
    if (!loadLayout(layout, &error) || !startReplay(path, &error)) {
        refuse(error);
        return;
    }
    connectionLabel->setText(QStringLiteral("Offline: replaying %1").arg(QFileInfo(path).fileName()));
}
