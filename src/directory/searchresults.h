#pragma once

#include "catalog/fileitem.h"
#include "directory/filesearch.h"
#include "directory/pinger.h"

#include <QAbstractTableModel>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <vector>

namespace mr {

class TMRAgentHttp;

// The rows of a file search: one found file each, with the texts the result list shows.
// Sorting follows the list's header clicks: by a column's text, reversed by a second click.
class SearchResults : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column {
        ColName,
        ColSize,
        ColDescription,
        ColMedia,
        ColOwner,
        ColStatus,
        ColLine,
        ColPing
    };
    static constexpr int kColumnCount = ColPing + 1;

    explicit SearchResults(QObject* parent = nullptr);

    // "Name", "Size", "Description", "Media", "Owner", "Status", "Line", "Ping".
    static const QStringList& columnTitles();

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    QString text(int row, int column) const;
    const TRemoteFileItem& result(int row) const;

    void clear();
    void append(std::vector<TRemoteFileItem> results);

    // Writes a ping result into every row of that owner.
    void setPing(const QString& owner, const QString& result);
    // The first row whose owner is online and not yet pinged, or -1.
    int nextToPing() const;

    // A header click: the sort column's second click reverses the direction, another column
    // sorts ascending. Only the clicked header shows an image: 0 when its column has just
    // become the sort column, 2 when it was already.
    void columnClicked(int column);
    int sortColumn() const { return m_sortColumn; }
    bool descending() const { return m_descending; }
    // The image of a column's header, or -1.
    int headerImage(int column) const;
    // Rows by the column's text in the locale's order, letter case counting.
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

private:
    struct Row {
        TRemoteFileItem result;
        QString ping;
    };

    std::vector<Row> m_rows;
    int m_sortColumn = ColName;
    bool m_descending = true;  // so that the first click on "Name" sorts ascending
    int m_imageColumn = -1;
    int m_image = -1;
};

// One search at a time: sends it through the agent and reads the reply into the results.
class FileSearch : public QObject {
    Q_OBJECT
public:
    static inline const QString kErrorText = QStringLiteral("Error while searching");
    static inline const QString kNothingText = QStringLiteral("No items were found");

    explicit FileSearch(SearchResults& results, QObject* parent = nullptr);

    // Clears the results and sends the search. A search the agent cannot place ends at once,
    // in error, and false is returned.
    bool start(TMRAgentHttp* agent, const FileSearchCriteria& criteria);
    // Ends the search with the reply's data or its failure.
    void readReply(QByteArrayView data, bool failed);

    bool searching() const { return m_searching; }
    bool failed() const { return m_failed; }
    bool hasResults() const { return m_results.rowCount() > 0; }
    // What the empty list says after the search: an error, nothing found, or nothing.
    QString message() const { return m_message; }
    // The message, else "N items found."; empty while a search runs.
    QString statusText() const;

signals:
    void finished();

private:
    void end();

    SearchResults& m_results;
    bool m_searching = false;
    bool m_failed = false;
    quint64 m_generation = 0;
    QString m_message;
};

// Pings the online owners of the results one at a time through their info sockets; each
// answer is written to every row of that owner before the next unpinged owner is asked.
class PingSequence : public QObject {
    Q_OBJECT
public:
    explicit PingSequence(SearchResults& results, QObject* parent = nullptr);

    void setTimeout(int ms) { m_timeoutMs = ms; }
    // Pings the first online owner not yet pinged. While a ping is out this does nothing: its
    // answer moves on through the rows listed by then.
    void start();
    bool running() const { return m_pinger != nullptr; }

signals:
    // No online owner is left to ping.
    void finished();

private:
    void report(const QString& nickname, const QString& result);

    SearchResults& m_results;
    QPointer<Pinger> m_pinger;
    int m_timeoutMs;
};

}  // namespace mr
