#include "directory/searchresults.h"

#include "directory/linespeed.h"
#include "directory/pinger.h"
#include "service/agent.h"

#include <algorithm>
#include <numeric>

namespace mr {

SearchResults::SearchResults(QObject* parent) : QAbstractTableModel(parent) {}

const QStringList& SearchResults::columnTitles() {
    static const QStringList titles = {QStringLiteral("Name"),        QStringLiteral("Size"),
                                       QStringLiteral("Description"), QStringLiteral("Media"),
                                       QStringLiteral("Owner"),       QStringLiteral("Status"),
                                       QStringLiteral("Line"),        QStringLiteral("Ping")};
    return titles;
}

int SearchResults::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int SearchResults::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumnCount;
}

QVariant SearchResults::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= rowCount()) {
        return {};
    }
    return text(index.row(), index.column());
}

QVariant SearchResults::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
        section >= kColumnCount) {
        return {};
    }
    return columnTitles().at(section);
}

QString SearchResults::text(int row, int column) const {
    const Row& r = m_rows.at(static_cast<std::size_t>(row));
    switch (column) {
        case ColName:
            return r.result.Name;
        case ColSize:
            return ResultSizeText(r.result.size);
        case ColDescription:
            return r.result.description;
        case ColMedia:
            return r.result.media;
        case ColOwner:
            return r.result.userName;
        case ColStatus:
            return ResultStatusText(r.result.online);
        case ColLine:
            return LineSpeedName(r.result.lineSpeed);
        case ColPing:
            return r.ping;
        default:
            return {};
    }
}

const TRemoteFileItem& SearchResults::result(int row) const {
    return m_rows.at(static_cast<std::size_t>(row)).result;
}

void SearchResults::clear() {
    if (m_rows.empty()) {
        return;
    }
    beginResetModel();
    m_rows.clear();
    endResetModel();
}

void SearchResults::append(std::vector<TRemoteFileItem> results) {
    if (results.empty()) {
        return;
    }
    const int first = rowCount();
    beginInsertRows({}, first, first + static_cast<int>(results.size()) - 1);
    for (TRemoteFileItem& result : results) {
        m_rows.push_back(Row{std::move(result), {}});
    }
    endInsertRows();
}

void SearchResults::setPing(const QString& owner, const QString& result) {
    for (int row = 0; row < rowCount(); ++row) {
        Row& r = m_rows[static_cast<std::size_t>(row)];
        if (r.result.userName == owner) {
            r.ping = result;
            emit dataChanged(index(row, ColPing), index(row, ColPing));
        }
    }
}

int SearchResults::nextToPing() const {
    for (int row = 0; row < rowCount(); ++row) {
        const Row& r = m_rows[static_cast<std::size_t>(row)];
        if (r.ping.isEmpty() && r.result.online) {
            return row;
        }
    }
    return -1;
}

void SearchResults::columnClicked(int column) {
    if (column < 0 || column >= kColumnCount) {
        return;
    }
    const int previous = m_imageColumn;
    if (column == m_sortColumn) {
        m_descending = !m_descending;
        m_image = 2;
    } else {
        m_sortColumn = column;
        m_descending = false;
        m_image = 0;
    }
    m_imageColumn = column;
    if (previous >= 0 && previous != column) {
        emit headerDataChanged(Qt::Horizontal, previous, previous);
    }
    emit headerDataChanged(Qt::Horizontal, column, column);
    sort(m_sortColumn, m_descending ? Qt::DescendingOrder : Qt::AscendingOrder);
}

int SearchResults::headerImage(int column) const {
    return column == m_imageColumn ? m_image : -1;
}

void SearchResults::sort(int column, Qt::SortOrder order) {
    if (column < 0 || column >= kColumnCount || m_rows.size() < 2) {
        return;
    }
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    std::vector<int> byText(m_rows.size());
    std::iota(byText.begin(), byText.end(), 0);
    std::vector<QString> keys(m_rows.size());
    for (std::size_t row = 0; row < m_rows.size(); ++row) {
        keys[row] = text(static_cast<int>(row), column);
    }
    const bool descending = order == Qt::DescendingOrder;
    std::stable_sort(byText.begin(), byText.end(), [&](int a, int b) {
        const int c = QString::localeAwareCompare(keys[static_cast<std::size_t>(a)],
                                                  keys[static_cast<std::size_t>(b)]);
        return descending ? c > 0 : c < 0;
    });
    std::vector<Row> sorted;
    sorted.reserve(m_rows.size());
    std::vector<int> newRow(m_rows.size());
    for (std::size_t i = 0; i < byText.size(); ++i) {
        sorted.push_back(std::move(m_rows[static_cast<std::size_t>(byText[i])]));
        newRow[static_cast<std::size_t>(byText[i])] = static_cast<int>(i);
    }
    m_rows = std::move(sorted);
    // Selections and the current row follow their rows.
    const QModelIndexList from = persistentIndexList();
    QModelIndexList to;
    to.reserve(from.size());
    for (const QModelIndex& old : from) {
        to.append(index(newRow[static_cast<std::size_t>(old.row())], old.column()));
    }
    changePersistentIndexList(from, to);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

FileSearch::FileSearch(SearchResults& results, QObject* parent)
    : QObject(parent), m_results(results) {}

bool FileSearch::start(TMRAgentHttp* agent, const FileSearchCriteria& criteria) {
    m_results.clear();
    m_failed = false;
    m_message.clear();
    m_searching = true;
    // A reply to an earlier search that was given up on must not end this one.
    const quint64 generation = ++m_generation;
    const bool placed = agent && agent->SearchFiles(
                                     this,
                                     [this, generation](TRequest& request) {
                                         if (generation == m_generation) {
                                             readReply(request.replyData(), request.failed());
                                         }
                                     },
                                     criteria);
    if (!placed) {
        readReply({}, true);
    }
    return placed;
}

void FileSearch::readReply(QByteArrayView data, bool failed) {
    m_failed = failed;
    if (!failed) {
        m_results.append(ParseFileSearchReply(data));
    }
    m_searching = false;
    m_message = failed ? kErrorText : hasResults() ? QString() : kNothingText;
    emit finished();
}

QString FileSearch::statusText() const {
    if (m_searching) {
        return {};
    }
    if (!m_message.isEmpty()) {
        return m_message;
    }
    return QString::number(m_results.rowCount()) + QStringLiteral(" items found.");
}

PingSequence::PingSequence(SearchResults& results, QObject* parent)
    : QObject(parent), m_results(results), m_timeoutMs(Pinger::kDefaultTimeoutMs) {}

void PingSequence::start() {
    if (m_pinger) {
        return;
    }
    const int row = m_results.nextToPing();
    if (row < 0) {
        emit finished();
        return;
    }
    const TRemoteFileItem& owner = m_results.result(row);
    auto* pinger = new Pinger(owner.address, owner.infoPort, owner.userName, this);
    pinger->setTimeout(m_timeoutMs);
    connect(pinger, &Pinger::finished, this, &PingSequence::report);
    m_pinger = pinger;
    pinger->start();
}

void PingSequence::report(const QString& nickname, const QString& result) {
    if (m_pinger) {
        m_pinger->deleteLater();
        m_pinger = nullptr;
    }
    m_results.setPing(nickname, result);
    start();
}

}  // namespace mr
