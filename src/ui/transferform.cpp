#include "ui/transferform.h"

#include "core/profile.h"
#include "core/userinfo.h"
#include "transfer/peerdialect.h"
#include "ui/fileicons.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QFocusEvent>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QMimeDatabase>
#include <QPainter>
#include <QSplitter>
#include <QStyledItemDelegate>
#include <QTableWidget>
#include <QTimer>
#include <QToolBar>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>

namespace mr {

namespace {

constexpr int kIdRole = Qt::UserRole + 1;
constexpr int kStartRole = Qt::UserRole + 2;
constexpr int kBanned = 2;

const QString kNone = QStringLiteral("---");
const QString kQueued = QStringLiteral("Queued");
const QString kTransfering = QStringLiteral("Transfering");
const QString kResuming = QStringLiteral("Resuming");

// The number a cell shows, or -1 while it shows "---" or anything else that is not a count.
qint64 cellNumber(const QTableWidget* list, int row, int column) {
    const QTableWidgetItem* cell = list->item(row, column);
    bool ok = false;
    const qint64 value = cell ? cell->text().toLongLong(&ok) : -1;
    return ok && value >= 0 ? value : -1;
}

void setCell(QTableWidget* list, int row, int column, const QString& text) {
    if (QTableWidgetItem* cell = list->item(row, column)) {
        cell->setText(text);
    }
}

// The status text of an item; an error without a reason still reads as an error.
QString itemStatusText(const TMRQueItem& item) {
    const TTransferError error =
        item.Error == TTransferError::None ? TTransferError::Error : item.Error;
    const QString text = statusText(item.Status, error);
    if (item.Status != TTransferStatus::Error || item.RetryAt <= 0) {
        return text;
    }
    const QDateTime at = QDateTime::fromMSecsSinceEpoch(item.RetryAt);
    const bool today = at.date() == QDate::currentDate();
    return text + QStringLiteral(", next attempt at ") +
           QLocale().toString(at, today ? QLocale().timeFormat(QLocale::ShortFormat)
                                        : QLocale().dateTimeFormat(QLocale::ShortFormat));
}

// The file-name part of a share path.
QString fileNamePart(const QString& path) {
    const qsizetype cut =
        std::max(path.lastIndexOf(QLatin1Char('/')), path.lastIndexOf(QLatin1Char('\\')));
    return path.mid(cut + 1);
}

// Paints "Percentage" as a bar of done / size with the percentage on it, once both are known.
class PercentageDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        bool doneOk = false;
        bool sizeOk = false;
        const qint64 done =
            index.siblingAtColumn(Tfrm_transfer::ColProgress).data().toString().toLongLong(&doneOk);
        const qint64 size =
            index.siblingAtColumn(Tfrm_transfer::ColFileSize).data().toString().toLongLong(&sizeOk);
        if (!doneOk || !sizeOk || size <= 0 || done < 0) {
            QStyledItemDelegate::paint(painter, option, index);
            return;
        }
        QStyleOptionViewItem cell = option;
        initStyleOption(&cell, index);
        cell.text.clear();
        const QWidget* widget = option.widget;
        QStyle* style = widget ? widget->style() : QApplication::style();
        style->drawControl(QStyle::CE_ItemViewItem, &cell, painter, widget);

        QStyleOptionProgressBar bar;
        bar.initFrom(widget);
        bar.state |= QStyle::State_Horizontal;
        bar.rect = option.rect.adjusted(2, 2, -2, -2);
        bar.minimum = 0;
        bar.maximum = 1000;
        bar.progress = static_cast<int>(std::min<qint64>(done, size) * 1000 / size);
        bar.text = percentageText(done, size);
        bar.textVisible = true;
        bar.textAlignment = Qt::AlignCenter;
        style->drawControl(QStyle::CE_ProgressBar, &bar, painter, widget);
    }
};

}  // namespace

RateText rateTexts(qint64 done, qint64 size, qint64 elapsedMs) {
    // Bytes per millisecond, single precision as the column always showed it.
    const float rate =
        elapsedMs > 0 && done > 0 ? static_cast<float>(done) / static_cast<float>(elapsedMs) : 0.0F;
    // A crawling transfer would overflow the conversion; past 99 hours the figure says enough.
    constexpr float kMaxSeconds = 99 * 3600 + 59 * 60 + 59;
    qint64 seconds = 0;
    if (rate > 0.0F && size > done) {
        seconds = static_cast<qint64>(
            std::min(static_cast<float>(size - done) / (rate * 1000.0F), kMaxSeconds));
    }
    const qint64 hours = seconds / 3600;
    const qint64 minutes = (seconds - hours * 3600) / 60;
    const qint64 secs = seconds % 60;
    RateText texts;
    texts.cps = QString::asprintf("%.2f", static_cast<double>(rate));
    texts.estimated =
        QString::asprintf("%02lld:%02lld:%02lld", static_cast<long long>(hours),
                          static_cast<long long>(minutes), static_cast<long long>(secs));
    return texts;
}

QString percentageText(qint64 done, qint64 size) {
    if (size <= 0) {
        return {};
    }
    // A peer reporting more bytes than the file holds must not push the bar past its cell.
    const qint64 part = std::clamp<qint64>(done, 0, size);
    return QString::number(part * 100 / size) + QLatin1Char('%');
}

Tfrm_transfer::Tfrm_transfer(TMRWantedList& downloads, TMRWaitingList& uploads,
                             TransferActions actions, QWidget* parent)
    : QWidget(parent),
      m_downloads(&downloads),
      m_uploads(&uploads),
      m_actions(std::move(actions)),
      m_toolBar(new QToolBar(this)),
      m_lvwManual(createList("lvwManual")),
      m_lvwAutomatic(createList("lvwAutomatic")),
      m_popupMenu(new QMenu(this)),
      m_cpsTimer(new QTimer(this)) {
    setObjectName(QStringLiteral("frm_transfer"));
    setWindowTitle(QStringLiteral("Transfers"));
    m_processClock.start();
    m_clock = [this] { return m_processClock.elapsed(); };

    m_actClearComplete =
        createAction("actClearComplete", QStringLiteral("Clear Completed Transfers"));
    m_actAbort = createAction("actAbort", QStringLiteral("Abort Transfer"));
    m_actKick = createAction("actKick", QStringLiteral("Kick Transfer"));
    m_actBan = createAction("actBan", QStringLiteral("Ban User"));
    m_actPMessage = createAction("actPMessage", QStringLiteral("Personal &Message"));
    m_actUserInformation = createAction("actUserInformation", QStringLiteral("User &Information"));
    m_actUserTree = createAction("actUserTree", QStringLiteral("View Users &Tree"));
    m_actPTP = createAction("actPTP", QStringLiteral("&Private Chat"));
    m_actAddUser = createAction("actAddUser", QStringLiteral("Add Computer"));
    m_actUpload = createAction("actUpload", QStringLiteral("Upload File"));
    m_actOpen = createAction("actOpen", QStringLiteral("&Open"));
    m_actOpenFolder = createAction("actOpenFolder", QStringLiteral("Open &Folder"));
    m_opener = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
    connect(m_actOpen, &QAction::triggered, this, [this] {
        const QString file = selectedLocalFile();
        if (!file.isEmpty()) {
            m_opener(QUrl::fromLocalFile(file));
        }
    });
    connect(m_actOpenFolder, &QAction::triggered, this, [this] {
        const QString file = selectedLocalFile();
        if (!file.isEmpty()) {
            m_opener(QUrl::fromLocalFile(QFileInfo(file).absolutePath()));
        }
    });
    // A completed download opens on double click.
    connect(m_lvwManual, &QTableWidget::itemDoubleClicked, this, [this] {
        setActiveList(m_lvwManual);
        if (m_actOpen->isEnabled()) {
            m_actOpen->trigger();
        }
    });

    connect(m_actClearComplete, &QAction::triggered, this, &Tfrm_transfer::actClearCompleteExecute);
    connect(m_actAbort, &QAction::triggered, this, &Tfrm_transfer::actAbortExecute);
    connect(m_actKick, &QAction::triggered, this, &Tfrm_transfer::actKickExecute);
    connect(m_actBan, &QAction::triggered, this, &Tfrm_transfer::actBanExecute);
    connect(m_actPMessage, &QAction::triggered, this,
            [this] { emitForSelectedUser(&Tfrm_transfer::personalMessageRequested); });
    connect(m_actUserInformation, &QAction::triggered, this,
            [this] { emitForSelectedUser(&Tfrm_transfer::userInformationRequested); });
    connect(m_actUserTree, &QAction::triggered, this,
            [this] { emitForSelectedUser(&Tfrm_transfer::userTreeRequested); });
    connect(m_actPTP, &QAction::triggered, this,
            [this] { emitForSelectedUser(&Tfrm_transfer::privateChatRequested); });
    connect(m_actAddUser, &QAction::triggered, this,
            [this] { emitForSelectedUser(&Tfrm_transfer::addUserRequested); });

    m_toolBar->setObjectName(QStringLiteral("tbrTransfer"));
    m_toolBar->setToolButtonStyle(Qt::ToolButtonTextOnly);
    m_toolBar->addActions({m_actClearComplete, m_actAbort, m_actKick, m_actBan});
    m_toolBar->addSeparator();
    m_toolBar->addActions(
        {m_actPMessage, m_actUserInformation, m_actUserTree, m_actPTP, m_actAddUser});
    m_toolBar->addSeparator();
    m_toolBar->addAction(m_actUpload);
    m_toolBar->addSeparator();
    m_toolBar->addActions({m_actOpen, m_actOpenFolder});

    m_popupMenu->setObjectName(QStringLiteral("TransferPopupMenu"));
    m_popupMenu->addActions({m_actClearComplete, m_actAbort, m_actKick, m_actBan});
    m_popupMenu->addSeparator();
    m_popupMenu->addActions(
        {m_actPMessage, m_actUserInformation, m_actUserTree, m_actPTP, m_actAddUser});
    m_popupMenu->addSeparator();
    m_popupMenu->addAction(m_actUpload);
    m_popupMenu->addSeparator();
    m_popupMenu->addActions({m_actOpen, m_actOpenFolder});

    auto* splitter = new QSplitter(Qt::Vertical, this);
    splitter->setObjectName(QStringLiteral("splTransfers"));
    splitter->setChildrenCollapsible(false);
    const std::pair<QTableWidget*, QString> panes[] = {
        {m_lvwManual, QStringLiteral("Transfers initiated by you")},
        {m_lvwAutomatic, QStringLiteral("Transfers initiated by remote users")}};
    for (const auto& [list, heading] : panes) {
        auto* pane = new QWidget(splitter);
        auto* paneLayout = new QVBoxLayout(pane);
        paneLayout->setContentsMargins(0, 0, 0, 0);
        paneLayout->setSpacing(2);
        auto* label = new QLabel(heading, pane);
        label->setContentsMargins(4, 2, 0, 0);
        label->setBuddy(list);
        paneLayout->addWidget(label);
        paneLayout->addWidget(list, 1);
        splitter->addWidget(pane);
    }

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_toolBar);
    layout->addWidget(splitter, 1);

    struct Binding {
        TMRQue* queue;
        QTableWidget* list;
    };
    for (const Binding& binding :
         {Binding{m_downloads, m_lvwManual}, Binding{m_uploads, m_lvwAutomatic}}) {
        TMRQue* queue = binding.queue;
        QTableWidget* list = binding.list;
        for (int i = 0; i < queue->count(); ++i) {
            const TMRQueItem& item = *queue->at(i);
            addRow(list, item);
            // An item that has moved on already shows where it stands, not "Queued".
            if (item.Status != TTransferStatus::LocalQueue) {
                showStatus(list, item);
            }
            if (item.Transferred > 0) {
                showTransferred(list, item.Id, item.Transferred);
            }
            if (item.Size > 0) {
                showSize(list, item.Id, item.Size);
            }
        }
        connect(queue, &TMRQue::itemAdded, this,
                [this, list](TMRQueItem* item) { addRow(list, *item); });
        connect(queue, &TMRQue::itemRemoved, this,
                [this, list](int, qint32 id) { removeRow(list, id); });
        connect(queue, &TMRQue::statusChanged, this,
                [this, list](TMRQueItem* item, TTransferStatus) { showStatus(list, *item); });
        connect(queue, &TMRQue::transferredChanged, this,
                [this, list](qint32 id, qint64 bytes) { showTransferred(list, id, bytes); });
        connect(queue, &TMRQue::sizeChanged, this,
                [this, list](qint32 id, qint64 bytes) { showSize(list, id, bytes); });
    }

    m_cpsTimer->setObjectName(QStringLiteral("CpsTimer"));
    m_cpsTimer->setInterval(1000);
    connect(m_cpsTimer, &QTimer::timeout, this, &Tfrm_transfer::CpsTimerTimer);
    m_cpsTimer->start();

    updateActions();
    resize(780, 460);
}

Tfrm_transfer::~Tfrm_transfer() = default;

QString Tfrm_transfer::description() {
    return QStringLiteral(
        "The transfer window shows your latest downloads along with files downloaded from you");
}

void Tfrm_transfer::setClock(Clock clock) {
    m_clock = std::move(clock);
}

void Tfrm_transfer::closeEvent(QCloseEvent* event) {
    // The window lives as long as the program; only hiding or minimising it is allowed.
    event->ignore();
}

bool Tfrm_transfer::eventFilter(QObject* watched, QEvent* event) {
    auto* list = qobject_cast<QTableWidget*>(watched);
    if (list && (list == m_lvwManual || list == m_lvwAutomatic)) {
        if (event->type() == QEvent::FocusIn) {
            setActiveList(list);
        } else if (event->type() == QEvent::FocusOut) {
            // The pop-up menu takes the focus for a moment; its commands still mean this list.
            const auto reason = static_cast<QFocusEvent*>(event)->reason();
            if (reason != Qt::PopupFocusReason && m_activeList == list) {
                setActiveList(nullptr);
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}

QTableWidget* Tfrm_transfer::createList(const char* name) {
    auto* list = new QTableWidget(0, ColumnCount, this);
    list->setObjectName(QString::fromLatin1(name));
    list->setHorizontalHeaderLabels(
        {QStringLiteral("Filename"), QStringLiteral("User Name"), QStringLiteral("Action"),
         QStringLiteral("File Size"), QStringLiteral("Progress"), QStringLiteral("Status"),
         QStringLiteral("Percentage"), QStringLiteral("CPS"), QStringLiteral("Estimated")});
    list->verticalHeader()->hide();
    list->verticalHeader()->setDefaultSectionSize(list->fontMetrics().height() + 6);
    list->horizontalHeader()->setHighlightSections(false);
    list->horizontalHeader()->setStretchLastSection(true);
    list->setShowGrid(true);
    list->setWordWrap(false);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->setIconSize(QSize(16, 16));
    list->setItemDelegateForColumn(ColPercentage, new PercentageDelegate(list));
    const int widths[ColumnCount] = {200, 100, 70, 80, 80, 110, 90, 70, 70};
    for (int column = 0; column < ColumnCount; ++column) {
        list->setColumnWidth(column, widths[column]);
    }
    list->setContextMenuPolicy(Qt::CustomContextMenu);
    list->installEventFilter(this);
    connect(list, &QWidget::customContextMenuRequested, this, [this, list](const QPoint& at) {
        setActiveList(list);
        m_popupMenu->popup(list->viewport()->mapToGlobal(at));
    });
    connect(list, &QTableWidget::itemSelectionChanged, this, [this, list] {
        // A row that goes away with its selection does not draw the user into this list.
        if (!list->selectedItems().isEmpty()) {
            setActiveList(list);
        } else if (list == m_activeList) {
            updateActions();
        }
    });
    return list;
}

QAction* Tfrm_transfer::createAction(const char* name, const QString& caption) {
    auto* action = new QAction(caption, this);
    action->setObjectName(QString::fromLatin1(name));
    return action;
}

void Tfrm_transfer::addRow(QTableWidget* list, const TMRQueItem& item) {
    const int row = list->rowCount();
    list->insertRow(row);
    const QString fileName = fileNamePart(item.Path);
    const QString texts[ColumnCount] = {
        fileName,
        item.UserName,
        list == m_lvwManual ? QStringLiteral("Download") : QStringLiteral("Upload"),
        kNone,
        kNone,
        kQueued,
        kNone,
        kNone,
        kNone};
    for (int column = 0; column < ColumnCount; ++column) {
        auto* cell = new QTableWidgetItem(texts[column]);
        cell->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        if (column >= ColFileSize && column != ColStatus) {
            cell->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        }
        list->setItem(row, column, cell);
    }
    QTableWidgetItem* caption = list->item(row, ColFilename);
    caption->setIcon(iconFor(fileName));
    caption->setData(kIdRole, item.Id);
    caption->setData(kStartRole, m_clock());
}

void Tfrm_transfer::removeRow(QTableWidget* list, qint32 id) {
    const int row = rowOf(list, id);
    if (row >= 0) {
        list->removeRow(row);
    }
    updateActions();
}

void Tfrm_transfer::showStatus(QTableWidget* list, const TMRQueItem& item) {
    const int row = rowOf(list, item.Id);
    if (row < 0) {
        return;
    }
    setCell(list, row, ColStatus, itemStatusText(item));
    if (list == m_activeList) {
        updateActions();
    }
}

void Tfrm_transfer::showTransferred(QTableWidget* list, qint32 id, qint64 bytes) {
    const int row = rowOf(list, id);
    if (row < 0) {
        return;
    }
    setCell(list, row, ColProgress, QString::number(bytes));
    setCell(list, row, ColPercentage, QStringLiteral("0"));
    repaintBar(list, row);
}

void Tfrm_transfer::repaintBar(QTableWidget* list, int row) {
    // The bar is drawn from the progress and size cells; its own text rarely changes.
    if (QTableWidgetItem* cell = list->item(row, ColPercentage)) {
        list->viewport()->update(list->visualItemRect(cell));
    }
}

void Tfrm_transfer::showSize(QTableWidget* list, qint32 id, qint64 bytes) {
    const int row = rowOf(list, id);
    if (row >= 0) {
        setCell(list, row, ColFileSize, QString::number(bytes));
        repaintBar(list, row);
    }
}

void Tfrm_transfer::CpsTimerTimer() {
    m_cpsTimer->stop();
    updateRates(m_lvwManual);
    updateRates(m_lvwAutomatic);
    m_cpsTimer->start();
}

void Tfrm_transfer::updateRates(QTableWidget* list) {
    const qint64 now = m_clock();
    for (int row = 0; row < list->rowCount(); ++row) {
        const QString status = list->item(row, ColStatus)->text();
        if (status != kTransfering && status != kResuming) {
            continue;
        }
        // A download turns Transfering before its first progress report: nothing to rate yet.
        const qint64 done = cellNumber(list, row, ColProgress);
        const qint64 size = cellNumber(list, row, ColFileSize);
        if (done < 0 || size < 0) {
            continue;
        }
        const qint64 start = list->item(row, ColFilename)->data(kStartRole).toLongLong();
        const RateText texts = rateTexts(done, size, now - start);
        setCell(list, row, ColCps, texts.cps);
        setCell(list, row, ColEstimated, texts.estimated);
    }
}

int Tfrm_transfer::rowOf(const QTableWidget* list, qint32 id) {
    for (int row = 0; row < list->rowCount(); ++row) {
        const QTableWidgetItem* caption = list->item(row, ColFilename);
        if (caption && caption->data(kIdRole).toInt() == id) {
            return row;
        }
    }
    return -1;
}

QIcon Tfrm_transfer::iconFor(const QString& fileName) {
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    auto cached = m_icons.constFind(suffix);
    if (cached != m_icons.constEnd()) {
        return *cached;
    }
    const QIcon fallback = FileIcons::genericIcon(false);
    QIcon icon = fallback;
    if (!suffix.isEmpty()) {
        const QMimeType type =
            QMimeDatabase().mimeTypeForFile(fileName, QMimeDatabase::MatchExtension);
        icon =
            QIcon::fromTheme(type.iconName(), QIcon::fromTheme(type.genericIconName(), fallback));
    }
    m_icons.insert(suffix, icon);
    return icon;
}

TMRQueItem* Tfrm_transfer::selectedItem() const {
    if (!m_activeList) {
        return nullptr;
    }
    const QList<QTableWidgetItem*> selected = m_activeList->selectedItems();
    if (selected.isEmpty()) {
        return nullptr;
    }
    const QTableWidgetItem* caption = m_activeList->item(selected.first()->row(), ColFilename);
    const qint32 id = caption->data(kIdRole).toInt();
    TMRQue* queue = m_activeList == m_lvwManual ? static_cast<TMRQue*>(m_downloads.data())
                                                : static_cast<TMRQue*>(m_uploads.data());
    return queue ? queue->find(id) : nullptr;
}

QString Tfrm_transfer::selectedStatusText() const {
    if (!m_activeList) {
        return {};
    }
    const QList<QTableWidgetItem*> selected = m_activeList->selectedItems();
    return selected.isEmpty() ? QString()
                              : m_activeList->item(selected.first()->row(), ColStatus)->text();
}

void Tfrm_transfer::setActiveList(QTableWidget* list) {
    m_activeList = list;
    updateActions();
}

void Tfrm_transfer::updateActions() {
    const TMRQueItem* item = selectedItem();
    const QString status = selectedStatusText();
    const bool download = item && m_activeList == m_lvwManual;
    const bool upload = item && m_activeList == m_lvwAutomatic;
    // A row reads "Queued" until its item first changes, "Local Queue" after; both wait.
    static const QStringList abortable = {kTransfering,
                                          kResuming,
                                          QStringLiteral("Remotely Queued"),
                                          kQueued,
                                          QStringLiteral("Local Queue"),
                                          QStringLiteral("Negotiating")};
    static const QStringList kickable = {kQueued, QStringLiteral("Local Queue"), kTransfering,
                                         kResuming};
    // A download waiting for its next attempt can be stopped too.
    m_actAbort->setEnabled(download && (abortable.contains(status) || item->RetryAt > 0));
    m_actKick->setEnabled(upload && kickable.contains(status));
    m_actBan->setEnabled(upload && status != QStringLiteral("Banned"));
    for (QAction* action :
         {m_actPMessage, m_actUserInformation, m_actUserTree, m_actPTP, m_actAddUser}) {
        action->setEnabled(item != nullptr);
    }
    m_actUpload->setEnabled(false);
    const bool arrived = download && !selectedLocalFile().isEmpty();
    m_actOpen->setEnabled(arrived && item->Status == TTransferStatus::Completed);
    m_actOpenFolder->setEnabled(arrived);
}

QString Tfrm_transfer::selectedLocalFile() const {
    const TMRQueItem* item = m_activeList == m_lvwManual ? selectedItem() : nullptr;
    if (!item || !IsSafeLocalFileName(item->LocalName)) {
        return {};
    }
    const QString file = QDir(UserInfo().effectiveDownloadPath()).filePath(item->LocalName);
    return QFileInfo(file).isFile() ? file : QString();
}

void Tfrm_transfer::actClearCompleteExecute() {
    for (TMRQue* queue :
         {static_cast<TMRQue*>(m_downloads.data()), static_cast<TMRQue*>(m_uploads.data())}) {
        if (!queue) {
            continue;
        }
        QList<qint32> ended;
        for (int i = 0; i < queue->count(); ++i) {
            const TMRQueItem* item = queue->at(i);
            if (item->Status == TTransferStatus::Completed ||
                item->Status == TTransferStatus::Error) {
                ended.append(item->Id);
            }
        }
        for (const qint32 id : ended) {
            queue->Remove(id);
        }
    }
}

void Tfrm_transfer::actAbortExecute() {
    const TMRQueItem* item = m_activeList == m_lvwManual ? selectedItem() : nullptr;
    if (item && m_downloads) {
        const qint32 id = item->Id;
        switch (item->Status) {
            case TTransferStatus::LocalQueue:
            case TTransferStatus::RemotelyQueued:
            case TTransferStatus::Transfering:
            case TTransferStatus::Resuming:
            case TTransferStatus::Negotiating:
                m_downloads->Abort(id);
                if (m_actions.abortDownload) {
                    m_actions.abortDownload(id);
                }
                break;
            case TTransferStatus::Error:
                m_downloads->Abort(id);  // ends the automatic retries
                break;
            default:
                break;
        }
    }
    m_actAbort->setEnabled(false);
}

void Tfrm_transfer::actKickExecute() {
    const TMRQueItem* item = m_activeList == m_lvwAutomatic ? selectedItem() : nullptr;
    if (item && m_uploads) {
        const qint32 id = item->Id;
        switch (item->Status) {
            case TTransferStatus::Negotiating:
            case TTransferStatus::RemotelyQueued:
            case TTransferStatus::LocalQueue:
            case TTransferStatus::Transfering:
            case TTransferStatus::Resuming:
                m_uploads->SetStatus(id, TTransferStatus::Error, TTransferError::Aborted);
                if (m_actions.abortUpload) {
                    m_actions.abortUpload(id);
                }
                break;
            default:
                break;
        }
    }
    m_actKick->setEnabled(false);
}

void Tfrm_transfer::actBanExecute() {
    const TMRQueItem* item = m_activeList == m_lvwAutomatic ? selectedItem() : nullptr;
    if (item && m_uploads) {
        const QString userName = item->UserName;
        if (m_actions.setUserStatus) {
            m_actions.setUserStatus(userName, kBanned);
        }
        // Waiting entries first: ending a running one frees a slot, and the queue would start
        // the user's next waiting entry before its turn came to be banned.
        const auto banAll = [this, &userName](bool waiting) {
            QList<qint32> ids;
            for (int i = 0; i < m_uploads->count(); ++i) {
                const TMRQueItem* entry = m_uploads->at(i);
                const bool isWaiting = entry->Status == TTransferStatus::LocalQueue;
                if (entry->UserName.compare(userName, Qt::CaseInsensitive) != 0 ||
                    entry->Status < TTransferStatus::Negotiating ||
                    entry->Status > TTransferStatus::Resuming || isWaiting != waiting) {
                    continue;
                }
                ids.append(entry->Id);
            }
            for (const qint32 id : ids) {
                m_uploads->SetStatus(id, TTransferStatus::Error, TTransferError::Banned);
                if (m_actions.abortUpload) {
                    m_actions.abortUpload(id);
                }
            }
        };
        banAll(true);
        banAll(false);
    }
    m_actBan->setEnabled(false);
}

void Tfrm_transfer::emitForSelectedUser(void (Tfrm_transfer::*signal)(qint32, const QString&)) {
    if (const TMRQueItem* item = selectedItem()) {
        emit(this->*signal)(item->PeerId, item->UserName);
    }
}

}  // namespace mr
