#include "ui/searchform.h"

#include "core/profile.h"
#include "core/userinfo.h"
#include "directory/searchresults.h"
#include "transfer/passwordcache.h"
#include "transfer/queue.h"
#include "ui/fileicons.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QStyle>
#include <QTreeView>
#include <QVBoxLayout>

namespace mr {

namespace {

// The results with the pictures the list shows: the file type's icon beside the name and the
// sort image on the header last clicked.
class SearchListModel : public SearchResults {
public:
    using SearchResults::SearchResults;

    QVariant data(const QModelIndex& index, int role) const override {
        if (role == Qt::DecorationRole && index.isValid() && index.column() == ColName &&
            index.row() < rowCount()) {
            const TRemoteFileItem& item = result(index.row());
            auto* icons = dynamic_cast<FileIcons*>(&installFileIcons());
            if (!icons) {
                return {};
            }
            return icons->icon(
                icons->iconIndexForName(item.isFolder() ? QStringLiteral(".") : item.Name, false));
        }
        return SearchResults::data(index, role);
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        if (role == Qt::DecorationRole && orientation == Qt::Horizontal) {
            switch (headerImage(section)) {
                case 0:
                    return QApplication::style()->standardIcon(QStyle::SP_ArrowUp);
                case 2:
                    return QApplication::style()->standardIcon(QStyle::SP_ArrowDown);
                default:
                    return {};
            }
        }
        return SearchResults::headerData(section, orientation, role);
    }
};

// The result list; a message such as "No items were found" is drawn over it.
class SearchList : public QTreeView {
public:
    using QTreeView::QTreeView;

    QString message() const { return m_message; }
    void setMessage(const QString& message) {
        m_message = message;
        viewport()->update();
    }

protected:
    void paintEvent(QPaintEvent* event) override {
        QTreeView::paintEvent(event);
        if (m_message.isEmpty()) {
            return;
        }
        QPainter painter(viewport());
        QFont font = painter.font();
        font.setPointSize(18);
        painter.setFont(font);
        painter.setPen(palette().color(QPalette::Text));
        painter.drawText(viewport()->rect().adjusted(5, 18, 0, 0), Qt::AlignLeft | Qt::AlignTop,
                         m_message);
    }

private:
    QString m_message;
};

QLineEdit* lineEdit(const char* name, QWidget* parent) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QLatin1String(name));
    return edit;
}

QCheckBox* checkBox(const char* name, const QString& caption, bool checked, QWidget* parent) {
    auto* box = new QCheckBox(caption, parent);
    box->setObjectName(QLatin1String(name));
    box->setChecked(checked);
    return box;
}

QComboBox* dropDown(const char* name, const QStringList& entries, int chosen, QWidget* parent) {
    auto* box = new QComboBox(parent);
    box->setObjectName(QLatin1String(name));
    box->addItems(entries);
    box->setCurrentIndex(chosen);
    return box;
}

}  // namespace

TfrmSearch::TfrmSearch(TMRAgentHttp* agent, QWidget* parent)
    : QWidget(parent),
      m_agent(agent),
      m_results(new SearchListModel(this)),
      m_search(new FileSearch(*m_results, this)),
      m_pings(new PingSequence(*m_results, this)) {
    setObjectName(QStringLiteral("frmSearch"));
    setWindowTitle(QStringLiteral("File Search"));
    createControls();
    createMenu();
    connect(m_search, &FileSearch::finished, this, &TfrmSearch::searchFinished);
}

TfrmSearch::~TfrmSearch() = default;

QString TfrmSearch::description() {
    return QStringLiteral(
        "Enables users to search files among other users. Using the * key allows you to search "
        "all files");
}

void TfrmSearch::createControls() {
    m_name = lineEdit("Name", this);
    m_mediaType = dropDown("MediaType", MediaTypeNames(), kMediaAll, this);
    m_searchButton = new QPushButton(QStringLiteral("&Search"), this);
    m_searchButton->setObjectName(QStringLiteral("SearchButton"));
    m_onOff = checkBox("OnOff", QStringLiteral("Show &Offline"), false, this);
    m_pingCheck = checkBox("PingCheck", QStringLiteral("Ping Results"), true, this);
    m_advanced = checkBox("Advanced", QStringLiteral("Advanced"), false, this);
    // A busy bar runs while a search is out.
    m_searchAnim = new QProgressBar(this);
    m_searchAnim->setObjectName(QStringLiteral("SearchAnim"));
    m_searchAnim->setRange(0, 0);
    m_searchAnim->setTextVisible(false);
    m_searchAnim->setMaximumWidth(80);
    m_searchAnim->hide();

    auto* top = new QHBoxLayout;
    top->addWidget(new QLabel(QStringLiteral("File Name:"), this));
    top->addWidget(m_name, 1);
    top->addWidget(new QLabel(QStringLiteral("Type:"), this));
    top->addWidget(m_mediaType);
    top->addWidget(m_searchButton);
    top->addWidget(m_searchAnim);
    auto* options = new QHBoxLayout;
    options->addWidget(m_onOff);
    options->addWidget(m_pingCheck);
    options->addWidget(m_advanced);
    options->addStretch();

    m_advancedPanel = new QWidget(this);
    m_advancedPanel->setObjectName(QStringLiteral("AdvancedPanel"));
    m_desc = lineEdit("Desc", m_advancedPanel);
    m_min = lineEdit("Min", m_advancedPanel);
    m_max = lineEdit("Max", m_advancedPanel);
    for (QLineEdit* size : {m_min, m_max}) {
        size->setMaxLength(7);
        size->setMaximumWidth(80);
    }
    m_minLine = dropDown("MinLine", MinLineNames(), 0, m_advancedPanel);
    m_filter = lineEdit("Filter", m_advancedPanel);
    auto* advanced = new QHBoxLayout(m_advancedPanel);
    advanced->setContentsMargins(0, 0, 0, 0);
    const auto addField = [&](const QString& label, QWidget* field, int stretch) {
        advanced->addWidget(new QLabel(label, m_advancedPanel));
        advanced->addWidget(field, stretch);
    };
    addField(QStringLiteral("Description:"), m_desc, 2);
    addField(QStringLiteral("Min KB:"), m_min, 0);
    addField(QStringLiteral("Max KB:"), m_max, 0);
    addField(QStringLiteral("Min. Speed"), m_minLine, 0);
    addField(QStringLiteral("Filter:"), m_filter, 1);
    m_advancedPanel->hide();

    m_list = new SearchList(this);
    m_list->setObjectName(QStringLiteral("List"));
    m_list->setModel(m_results);
    m_list->setRootIsDecorated(false);
    m_list->setItemsExpandable(false);
    m_list->setUniformRowHeights(true);
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setContextMenuPolicy(Qt::CustomContextMenu);
    m_list->header()->setSectionsClickable(true);
    m_list->header()->setSortIndicatorShown(false);
    const std::pair<int, int> widths[] = {
        {SearchResults::ColName, 120},  {SearchResults::ColDescription, 120},
        {SearchResults::ColMedia, 45},  {SearchResults::ColOwner, 70},
        {SearchResults::ColStatus, 60}, {SearchResults::ColLine, 40}};
    for (const auto& [column, width] : widths) {
        m_list->setColumnWidth(column, width);
    }

    m_statusBar = new QStatusBar(this);
    m_statusBar->setObjectName(QStringLiteral("StatusBar"));
    m_statusBar->setSizeGripEnabled(false);
    m_statusLabel = new QLabel(m_statusBar);
    m_statusBar->addWidget(m_statusLabel, 1);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(options);
    layout->addWidget(m_advancedPanel);
    layout->addWidget(m_list, 1);
    layout->addWidget(m_statusBar);

    connect(m_searchButton, &QPushButton::clicked, this, &TfrmSearch::SearchButtonClick);
    connect(m_name, &QLineEdit::returnPressed, this, &TfrmSearch::SearchButtonClick);
    connect(m_advanced, &QCheckBox::toggled, m_advancedPanel, &QWidget::setVisible);
    connect(m_list->header(), &QHeaderView::sectionClicked, m_results,
            &SearchResults::columnClicked);
    connect(m_list, &QAbstractItemView::doubleClicked, this, [this] { actDownloadExecute(); });
}

void TfrmSearch::createMenu() {
    const auto action = [this](const char* name, const QString& caption) {
        auto* a = new QAction(caption, this);
        a->setObjectName(QLatin1String(name));
        return a;
    };
    m_actDownload = action("actDownload", QStringLiteral("Download"));
    m_actTree = action("actTree", QStringLiteral("Go To Users Tree"));
    m_actUpload = action("actUpload", QStringLiteral("Upload File"));
    m_actClear = action("actClear", QStringLiteral("Clear List"));
    m_actUserInfo = action("actUserInfo", QStringLiteral("User Information"));
    m_actAddComputer = action("actAddComputer", QStringLiteral("Add Computer"));
    m_actSendMessage = action("actSendMessage", QStringLiteral("Send Message"));
    m_actPTPChat = action("actPTPChat", QStringLiteral("Request Chat"));
    // Uploading to another user has no command behind it.
    m_actUpload->setEnabled(false);

    m_searchMenu = new QMenu(this);
    m_searchMenu->setObjectName(QStringLiteral("SearchMenu"));
    m_searchMenu->addActions({m_actDownload, m_actTree, m_actUpload});
    m_searchMenu->addSeparator();
    m_searchMenu->addActions({m_actUserInfo, m_actAddComputer, m_actSendMessage, m_actPTPChat});
    m_searchMenu->addSeparator();
    m_searchMenu->addAction(m_actClear);

    connect(m_searchMenu, &QMenu::aboutToShow, this, &TfrmSearch::SearchMenuPopup);
    connect(m_list, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { m_searchMenu->popup(m_list->viewport()->mapToGlobal(at)); });
    connect(m_actDownload, &QAction::triggered, this, [this] { actDownloadExecute(); });
    connect(m_actTree, &QAction::triggered, this,
            [this] { emitForSelectedOwner(&TfrmSearch::userTreeRequested); });
    connect(m_actUserInfo, &QAction::triggered, this,
            [this] { emitForSelectedOwner(&TfrmSearch::userInformationRequested); });
    connect(m_actSendMessage, &QAction::triggered, this,
            [this] { emitForSelectedOwner(&TfrmSearch::messageRequested); });
    connect(m_actPTPChat, &QAction::triggered, this,
            [this] { emitForSelectedOwner(&TfrmSearch::chatRequested); });
    connect(m_actAddComputer, &QAction::triggered, this,
            [this] { emitForSelectedOwner(&TfrmSearch::addContactRequested); });
    connect(m_actClear, &QAction::triggered, m_results, &SearchResults::clear);
}

void TfrmSearch::setWantedList(TMRWantedList* wanted) {
    m_wanted = wanted;
}

QString TfrmSearch::message() const {
    return static_cast<const SearchList*>(m_list)->message();
}

QString TfrmSearch::statusText() const {
    return m_statusLabel->text();
}

void TfrmSearch::setStatusText(const QString& text) {
    m_statusLabel->setText(text);
}

void TfrmSearch::SearchButtonClick() {
    if (m_search->searching()) {
        return;
    }
    FileSearchForm form;
    form.name = m_name->text();
    form.mediaType = m_mediaType->currentIndex();
    form.showOffline = m_onOff->isChecked();
    form.advanced = m_advanced->isChecked();
    form.description = m_desc->text();
    form.minKb = m_min->text();
    form.maxKb = m_max->text();
    form.minLine = m_minLine->currentIndex();
    form.filter = m_filter->text();
    const FileSearchRequest request = BuildFileSearch(form);
    if (!request.criteria) {
        if (m_messageSink) {
            m_messageSink(request.error);
        } else {
            QMessageBox::warning(this, windowTitle(), request.error);
        }
        return;
    }
    m_name->setEnabled(false);
    m_searchButton->setEnabled(false);
    m_searchAnim->show();
    setStatusText({});
    static_cast<SearchList*>(m_list)->setMessage({});
    // A search that cannot be placed has ended by the time this returns.
    m_search->start(m_agent, *request.criteria);
}

void TfrmSearch::searchFinished() {
    m_searchButton->setEnabled(true);
    m_name->setEnabled(true);
    m_searchAnim->hide();
    static_cast<SearchList*>(m_list)->setMessage(m_search->message());
    setStatusText(m_search->statusText());
    if (m_pingCheck->isChecked()) {
        m_pings->start();
    }
}

int TfrmSearch::selectedRow() const {
    const QItemSelectionModel* selection = m_list->selectionModel();
    const QModelIndex current = m_list->currentIndex();
    if (current.isValid() && selection->isRowSelected(current.row(), {})) {
        return current.row();
    }
    const QModelIndexList rows = selection->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

std::optional<SearchDownload> TfrmSearch::actDownloadExecute() {
    const int row = selectedRow();
    if (row < 0 || !m_wanted) {
        return std::nullopt;
    }
    // A copy: showing the transfer window lets events run that may change the list.
    const TRemoteFileItem result = m_results->result(row);
    return DownloadSearchResult(result, *m_wanted, UserInfo().id(), PasswordCache(),
                                [this] { emit transfersRequested(); });
}

void TfrmSearch::SearchMenuPopup() {
    const int row = selectedRow();
    const bool selected = row >= 0;
    const bool online = selected && m_results->result(row).online;
    for (QAction* a : {m_actTree, m_actUserInfo, m_actAddComputer}) {
        a->setEnabled(selected);
    }
    for (QAction* a : {m_actDownload, m_actSendMessage, m_actPTPChat}) {
        a->setEnabled(online);
    }
}

void TfrmSearch::emitForSelectedOwner(void (TfrmSearch::*signal)(qint32, const QString&)) {
    const int row = selectedRow();
    if (row < 0) {
        return;
    }
    // Copies: a receiver may change the list.
    const qint32 userId = m_results->result(row).userId;
    const QString nick = m_results->result(row).userName;
    emit(this->*signal)(userId, nick);
}

}  // namespace mr
