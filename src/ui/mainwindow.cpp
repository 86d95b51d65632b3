#include "ui/mainwindow.h"

#include "core/profile.h"
#include "core/version.h"
#include "ui/commands.h"
#include "ui/controller.h"
#include "ui/icons.h"
#include "ui/mdibar.h"
#include "ui/sidebar.h"
#include "ui/sidebarsplitter.h"
#include "ui/statusbox.h"

#include <QAction>
#include <QActionGroup>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLinearGradient>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>

#include <algorithm>

namespace mr {

namespace {

constexpr int kOnlineImageOffset = 4;

// The frame's coloured parts are painted here rather than by style sheets: a single style sheet
// puts a style-sheet style, its code and its rules, over every widget of the program.

void setTextColor(QWidget* widget, const QColor& color) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, color);
    widget->setPalette(palette);
}

// A grey gradient with a dark line along its foot.
class CaptionBar : public QFrame {
public:
    using QFrame::QFrame;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        QLinearGradient gradient(0, 0, 0, height());
        gradient.setColorAt(0, QColor(0x8c, 0x8c, 0x8c));
        gradient.setColorAt(1, QColor(0x6f, 0x6f, 0x6f));
        painter.fillRect(rect(), gradient);
        painter.fillRect(0, height() - 1, width(), 1, QColor(0x55, 0x55, 0x55));
    }
};

// Bold text on a rounded, bordered field: lime with green, or maroon with red.
class OnlineIndicator : public QLabel {
public:
    explicit OnlineIndicator(QWidget* parent) : QLabel(parent) {
        QFont bold = font();
        bold.setBold(true);
        setFont(bold);
        // The border, then room for the image on the left.
        setContentsMargins(1 + 24, 1 + 1, 1 + 8, 1 + 1);
    }
    void setOnline(bool online) {
        m_fill = online ? QColor(0x00, 0xff, 0x00) : QColor(0x80, 0x00, 0x00);
        m_border = online ? QColor(0x00, 0x80, 0x00) : QColor(0x4d, 0x00, 0x00);
        setTextColor(this, online ? QColor(0x00, 0x80, 0x00) : QColor(0xff, 0x00, 0x00));
        update();
    }

protected:
    void paintEvent(QPaintEvent* event) override {
        // Plain until the first state is known.
        if (m_fill.isValid()) {
            QPainter painter(this);
            painter.setRenderHint(QPainter::Antialiasing);
            painter.setPen(m_border);
            painter.setBrush(m_fill);
            painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 3, 3);
        }
        QLabel::paintEvent(event);
    }

private:
    QColor m_fill;
    QColor m_border;
};

// Where the frame's size and position are kept between runs, in the profile's settings.
const QString kWindowGroup = QStringLiteral("Window");
const QString kGeometryName = QStringLiteral("Geometry");

}  // namespace

TfrmMain::TfrmMain(QWidget* parent)
    : QMainWindow(parent),
      m_mdiArea(new QMdiArea(this)),
      m_sideBar(new SideBar(this)),
      m_statusBox(new TfrmStatusBox(m_sideBar)),
      m_server(nullptr),
      m_commands(nullptr),
      m_trayAvailable(QSystemTrayIcon::isSystemTrayAvailable()) {
    setObjectName(QStringLiteral("frmMain"));
    setWindowIcon(applicationIcon());

    m_server = new TServer(*this);
    m_commands = new TdmCommands(*m_server, this);

    m_mdiArea->setObjectName(QStringLiteral("mdiArea"));
    m_mdiArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_mdiArea->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    // Each window keeps the state it has: a dialog-sized window activated over a maximized
    // search must not be stretched into a frameless one.
    m_mdiArea->setOption(QMdiArea::DontMaximizeSubWindowOnActivation);
    // Closing a window brings back the one the user had before it.
    m_mdiArea->setActivationOrder(QMdiArea::ActivationHistoryOrder);
    QLinearGradient wallpaper(0, 0, 0, 1);
    wallpaper.setCoordinateMode(QGradient::StretchToDeviceMode);
    wallpaper.setColorAt(0, QColor(0x5d, 0x6f, 0x8c));
    wallpaper.setColorAt(1, QColor(0x2f, 0x3b, 0x52));
    m_mdiArea->setBackground(wallpaper);

    m_sideBar->dockBottom(m_statusBox);
    connect(m_statusBox, &TfrmStatusBox::closeRequested, m_server,
            [this] { m_server->ShowStatusBox(false); });
    // The contacts fill the rest of the side bar; "Favorites" brings them back once closed.
    m_server->ShowFavorites(true);
    m_commands->actFavorites->setEnabled(true);
    connect(m_commands->actFavorites, &QAction::triggered, m_server,
            [this] { m_server->ShowFavorites(true); });
    auto* splitter = new SideBarSplitter(m_sideBar, this);

    auto* body = new QHBoxLayout;
    body->setContentsMargins(0, 0, 0, 0);
    body->setSpacing(0);
    body->addWidget(m_sideBar);
    body->addWidget(splitter);
    body->addWidget(m_mdiArea, 1);

    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(createCaptionBar());
    layout->addLayout(body, 1);
    layout->addWidget(createBottomPanel());
    setCentralWidget(central);

    const TdmCommands& c = *m_commands;
    m_tbrFile = createToolBar("tbrFile", QStringLiteral("File"),
                              {c.actFileSearch, c.actLocalFiles, c.actMoonrakeExplorer,
                               c.actTransfers, c.actMyDownloads});
    m_tbrUser = createToolBar("tbrUser", QStringLiteral("User"),
                              {c.actUserSearch, c.actBannedUsers, c.actChat, c.actFeedback});
    m_tbrWindow = createToolBar("tbrWindow", QStringLiteral("Window"),
                                {c.actCascade, c.actTileHoriz, c.actTileVert});
    m_actFileToolbar =
        createToolBarToggle("actFileToolbar", QStringLiteral("File Toolbar"), m_tbrFile);
    m_actUserToolbar =
        createToolBarToggle("actUserToolbar", QStringLiteral("User Toolbar"), m_tbrUser);
    m_actWindowToolbar =
        createToolBarToggle("actWindowToolbar", QStringLiteral("Window Toolbar"), m_tbrWindow);
    m_tbrWindow->hide();
    m_actWindowToolbar->setChecked(false);

    createMenus();
    createTrayIcon();
    setOnlineIndicator(false);
    // The captions at creation; signing on or off adds the state to them.
    m_pnlOnline->setText(QStringLiteral("Offline "));
    setWindowTitle(captionFor(UserInfo().nickname(), std::nullopt));
    m_trayIcon->setToolTip(QStringLiteral("Moonrake"));
    resize(1024, 720);
    if (const auto stored = UserInfo().file().text(kWindowGroup, kGeometryName)) {
        restoreGeometry(QByteArray::fromBase64(stored->toLatin1()));
    }

    QTimer::singleShot(0, this, &TfrmMain::deferredStartup);
}

TfrmMain::~TfrmMain() = default;

QString TfrmMain::captionFor(const QString& nickname, std::optional<bool> online) {
    const QString caption = QStringLiteral("Moonrake Ver ") + QLatin1String(kProgramVersion) +
                            QStringLiteral(" - ") + nickname;
    if (!online) {
        return caption;
    }
    return caption + (*online ? QStringLiteral(" (Online)") : QStringLiteral(" (Offline)"));
}

void TfrmMain::setTrayAvailable(bool available) {
    m_trayAvailable = available;
    m_trayIcon->setVisible(available);
}

QMenu* TfrmMain::createPopupMenu() {
    auto* menu = new QMenu(this);
    menu->addAction(m_actFileToolbar);
    menu->addAction(m_actUserToolbar);
    menu->addAction(m_actWindowToolbar);
    return menu;
}

void TfrmMain::setOnlineIndicator(bool online) {
    m_pnlOnline->setText(online ? QStringLiteral("Online") : QStringLiteral("Offline"));
    m_pnlOnline->setProperty("online", online);
    static_cast<OnlineIndicator*>(m_pnlOnline)->setOnline(online);
    m_imgOnline->setPixmap(onlineImage(online));
    m_imgOnline->move(kOnlineImageOffset, (m_pnlOnline->height() - m_imgOnline->height()) / 2);
    m_pnlOnline->setToolTip(online ? QStringLiteral("Online") : QStringLiteral("Offline"));
    setWindowTitle(captionFor(UserInfo().nickname(), online));
    m_trayIcon->setToolTip(online ? QStringLiteral("Moonrake - Online")
                                  : QStringLiteral("Moonrake - Offline"));
}

void TfrmMain::setConnectEnabled(bool enabled) {
    m_commands->actConnect->setEnabled(enabled);
}

void TfrmMain::showForStart(StartMode mode) {
    switch (mode) {
        case StartMode::Normal:
            show();
            break;
        case StartMode::Minimized:
            showMinimized();
            break;
        case StartMode::HiddenInTray:
            break;
    }
}

void TfrmMain::restoreFromTray() {
    if (isMinimized()) {
        showNormal();
    } else {
        show();
    }
    raise();
    activateWindow();
}

void TfrmMain::closeProgram() {
    m_realClose = true;
    close();
}

void TfrmMain::closeEvent(QCloseEvent* event) {
    saveWindowGeometry();
    switch (closeActionFor(m_realClose, m_trayAvailable)) {
        case CloseAction::HideToTray:
            event->ignore();
            hide();
            return;
        case CloseAction::Minimize:
            event->ignore();
            showMinimized();
            return;
        case CloseAction::Quit:
            break;
    }
    emit signingOff();
    UserInfo().file().sync();
    m_trayIcon->hide();
    event->accept();
    emit programClosed();
}

void TfrmMain::saveWindowGeometry() {
    UserInfo().file().setText(kWindowGroup, kGeometryName,
                              QString::fromLatin1(saveGeometry().toBase64()));
}

QWidget* TfrmMain::createCaptionBar() {
    auto* bar = new CaptionBar(this);
    bar->setObjectName(QStringLiteral("pnlCaptionBar"));

    m_lblCaptionBar = new QLabel(QStringLiteral("Moonrake"), bar);
    m_lblCaptionBar->setObjectName(QStringLiteral("lblCaptionBar"));
    QFont captionFont = m_lblCaptionBar->font();
    captionFont.setBold(true);
    captionFont.setPointSizeF(captionFont.pointSizeF() * 1.25);
    m_lblCaptionBar->setFont(captionFont);
    setTextColor(m_lblCaptionBar, Qt::white);

    m_lblMain = new QLabel(bar);
    m_lblMain->setObjectName(QStringLiteral("lblMain"));
    m_lblMain->setWordWrap(true);
    setTextColor(m_lblMain, Qt::yellow);

    m_lblOnlineStatus = new QLabel(bar);
    m_lblOnlineStatus->setObjectName(QStringLiteral("lblOnlineStatus"));
    m_lblOnlineStatus->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    setTextColor(m_lblOnlineStatus, Qt::white);

    auto* layout = new QHBoxLayout(bar);
    layout->setContentsMargins(10, 4, 10, 4);
    layout->setSpacing(16);
    layout->addWidget(m_lblCaptionBar);
    layout->addWidget(m_lblMain, 1);
    layout->addWidget(m_lblOnlineStatus);
    // Tall enough from the start for the two lines of counts that come with sign-on, so that
    // the child area below keeps its height.
    bar->setMinimumHeight(std::max(34, 2 * m_lblOnlineStatus->fontMetrics().lineSpacing() +
                                           layout->contentsMargins().top() +
                                           layout->contentsMargins().bottom()));
    return bar;
}

QWidget* TfrmMain::createBottomPanel() {
    auto* panel = new QFrame(this);
    panel->setObjectName(QStringLiteral("pnlBottom"));
    panel->setFrameShape(QFrame::NoFrame);

    m_mdiBar = new MdiBar(m_mdiArea, panel);

    m_pnlOnline = new OnlineIndicator(panel);
    m_pnlOnline->setObjectName(QStringLiteral("pnlOnline"));
    m_pnlOnline->setAlignment(Qt::AlignCenter);
    m_pnlOnline->setFixedSize(92, 22);
    m_imgOnline = new QLabel(m_pnlOnline);
    m_imgOnline->setObjectName(QStringLiteral("imgOnline"));
    m_imgOnline->setFixedSize(16, 16);

    auto* layout = new QHBoxLayout(panel);
    layout->setContentsMargins(2, 2, 4, 2);
    layout->setSpacing(6);
    layout->addWidget(m_mdiBar, 1);
    layout->addWidget(m_pnlOnline);
    return panel;
}

QToolBar* TfrmMain::createToolBar(const char* name, const QString& title,
                                  const QList<QAction*>& actions) {
    auto* bar = new QToolBar(title, this);
    bar->setObjectName(QString::fromLatin1(name));
    bar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    bar->setIconSize(QSize(24, 24));
    bar->setFloatable(false);
    bar->setAllowedAreas(Qt::TopToolBarArea);
    bar->addActions(actions);
    addToolBar(Qt::TopToolBarArea, bar);
    return bar;
}

QAction* TfrmMain::createToolBarToggle(const char* name, const QString& caption, QToolBar* bar) {
    auto* toggle = new QAction(caption, this);
    toggle->setObjectName(QString::fromLatin1(name));
    toggle->setCheckable(true);
    toggle->setChecked(true);
    connect(toggle, &QAction::toggled, bar, &QToolBar::setVisible);
    return toggle;
}

void TfrmMain::createMenus() {
    const TdmCommands& c = *m_commands;
    QMenuBar* bar = menuBar();

    QMenu* moonrake = bar->addMenu(QStringLiteral("    Moonrake    "));
    moonrake->setObjectName(QStringLiteral("miMoonrake"));
    moonrake->addAction(c.actConnect);
    moonrake->addAction(c.actDisconnect);
    moonrake->addSeparator();
    moonrake->addAction(c.actPreferences);
    moonrake->addSeparator();
    moonrake->addAction(c.actClose);

    QMenu* file = bar->addMenu(QStringLiteral("&File"));
    file->setObjectName(QStringLiteral("miFile"));
    file->addActions({c.actFileSearch, c.actLocalFiles, c.actMoonrakeExplorer, c.actTransfers,
                      c.actMyDownloads, c.actShareWizard});

    QMenu* user = bar->addMenu(QStringLiteral("&User"));
    user->setObjectName(QStringLiteral("miUser"));
    user->addActions({c.actUserSearch, c.actBannedUsers, c.actCredits, c.actChat, c.actFeedback});

    QMenu* view = bar->addMenu(QStringLiteral("&View"));
    view->setObjectName(QStringLiteral("miView"));
    view->addActions({m_actFileToolbar, m_actUserToolbar, m_actWindowToolbar});
    view->addSeparator();
    // Without a command in a menu, closed contacts could not be shown again.
    view->addActions({c.actStatusBox, c.actFavorites, c.actMotd});

    m_windowMenu = bar->addMenu(QStringLiteral("Window"));
    m_windowMenu->setObjectName(QStringLiteral("miWindow"));
    connect(m_windowMenu, &QMenu::aboutToShow, this, &TfrmMain::fillWindowMenu);
    fillWindowMenu();

    QMenu* help = bar->addMenu(QStringLiteral("&Help"));
    help->setObjectName(QStringLiteral("miHelp"));
    help->addAction(c.actAbout);
}

void TfrmMain::fillWindowMenu() {
    const TdmCommands& c = *m_commands;
    m_windowMenu->clear();
    m_windowMenu->addActions({c.actCascade, c.actTileHoriz, c.actTileVert});
    // The window list: one checkable entry per open child window.
    const QList<QMdiSubWindow*> windows = m_mdiArea->subWindowList(QMdiArea::CreationOrder);
    if (windows.isEmpty()) {
        return;
    }
    m_windowMenu->addSeparator();
    auto* group = new QActionGroup(m_windowMenu);
    int number = 0;
    for (QMdiSubWindow* window : windows) {
        if (window->isHidden()) {
            continue;
        }
        ++number;
        const QString prefix =
            number < 10 ? QStringLiteral("&%1 ").arg(number) : QStringLiteral("%1 ").arg(number);
        QAction* entry = m_windowMenu->addAction(prefix + window->windowTitle());
        entry->setCheckable(true);
        entry->setChecked(window == m_mdiArea->activeSubWindow());
        group->addAction(entry);
        connect(entry, &QAction::triggered, window, [this, window] {
            if (window->isMinimized()) {
                window->showNormal();
            }
            m_mdiArea->setActiveSubWindow(window);
        });
    }
}

void TfrmMain::createTrayIcon() {
    const TdmCommands& c = *m_commands;
    m_pmMoonrake = new QMenu(this);
    m_pmMoonrake->setObjectName(QStringLiteral("pmMoonrake"));
    m_pmMoonrake->addActions({c.actConnect, c.actDisconnect, c.actPreferences, c.actAbout});
    m_pmMoonrake->addSeparator();
    m_pmMoonrake->addAction(c.actClose);

    m_trayIcon = new QSystemTrayIcon(applicationIcon(), this);
    m_trayIcon->setObjectName(QStringLiteral("TrayIcon1"));
    m_trayIcon->setContextMenu(m_pmMoonrake);
    connect(m_trayIcon, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                // Many Linux trays never report a double click, only a plain one.
                if (reason == QSystemTrayIcon::DoubleClick || reason == QSystemTrayIcon::Trigger) {
                    restoreFromTray();
                }
            });
    m_trayIcon->setVisible(m_trayAvailable);
}

}  // namespace mr
