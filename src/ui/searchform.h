#pragma once

#include "directory/filesearch.h"

#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>
#include <optional>

class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QPushButton;
class QStatusBar;
class QTreeView;

namespace mr {

class FileSearch;
class PingSequence;
class SearchResults;
class TMRAgentHttp;
class TMRWantedList;

// "File Search": finds the files other members publish, pings their owners, and starts the
// download of a found file or the actions about its owner.
class TfrmSearch : public QWidget {
    Q_OBJECT
public:
    using MessageSink = std::function<void(const QString&)>;

    // agent: the service the searches go to; null fails every search.
    explicit TfrmSearch(TMRAgentHttp* agent, QWidget* parent = nullptr);
    ~TfrmSearch() override;

    // What the main window's description area says while this window is active.
    static QString description();

    // Where downloads are queued; without one nothing is downloaded.
    void setWantedList(TMRWantedList* wanted);
    // Where a size that is not a number is reported; a message box unless replaced.
    void setMessageSink(MessageSink sink) { m_messageSink = std::move(sink); }

    SearchResults& results() const { return *m_results; }
    FileSearch& search() const { return *m_search; }
    PingSequence& pings() const { return *m_pings; }
    // The text drawn in the empty list.
    QString message() const;

    QLineEdit* Name() const { return m_name; }
    QComboBox* MediaType() const { return m_mediaType; }
    QPushButton* SearchButton() const { return m_searchButton; }
    QCheckBox* OnOff() const { return m_onOff; }
    QCheckBox* PingCheck() const { return m_pingCheck; }
    QCheckBox* Advanced() const { return m_advanced; }
    QWidget* AdvancedPanel() const { return m_advancedPanel; }
    QLineEdit* Desc() const { return m_desc; }
    QLineEdit* Min() const { return m_min; }
    QLineEdit* Max() const { return m_max; }
    QComboBox* MinLine() const { return m_minLine; }
    QLineEdit* Filter() const { return m_filter; }
    QProgressBar* SearchAnim() const { return m_searchAnim; }
    QTreeView* List() const { return m_list; }
    QStatusBar* StatusBar() const { return m_statusBar; }
    QMenu* SearchMenu() const { return m_searchMenu; }

    QAction* actDownload() const { return m_actDownload; }
    QAction* actTree() const { return m_actTree; }
    QAction* actUpload() const { return m_actUpload; }
    QAction* actClear() const { return m_actClear; }
    QAction* actUserInfo() const { return m_actUserInfo; }
    QAction* actAddComputer() const { return m_actAddComputer; }
    QAction* actSendMessage() const { return m_actSendMessage; }
    QAction* actPTPChat() const { return m_actPTPChat; }

    // The status bar's text.
    QString statusText() const;

public slots:
    void SearchButtonClick();
    // Downloads the selected result; what came of it, or nothing without a selection.
    std::optional<SearchDownload> actDownloadExecute();
    // Sets what the context menu offers for the selected row.
    void SearchMenuPopup();

signals:
    // The user asked for something about the selected row's owner.
    void userTreeRequested(qint32 userId, const QString& nick);
    void userInformationRequested(qint32 userId, const QString& nick);
    void messageRequested(qint32 userId, const QString& nick);
    void chatRequested(qint32 userId, const QString& nick);
    void addContactRequested(qint32 userId, const QString& nick);
    // A download is about to be queued.
    void transfersRequested();

private:
    void createControls();
    void createMenu();
    void searchFinished();
    void setStatusText(const QString& text);
    // The selected row, the current one when it is selected; -1 without a selection.
    int selectedRow() const;
    void emitForSelectedOwner(void (TfrmSearch::*signal)(qint32, const QString&));

    TMRAgentHttp* m_agent;
    QPointer<TMRWantedList> m_wanted;
    MessageSink m_messageSink;
    SearchResults* m_results;
    FileSearch* m_search;
    PingSequence* m_pings;

    QLineEdit* m_name;
    QComboBox* m_mediaType;
    QPushButton* m_searchButton;
    QCheckBox* m_onOff;
    QCheckBox* m_pingCheck;
    QCheckBox* m_advanced;
    QWidget* m_advancedPanel;
    QLineEdit* m_desc;
    QLineEdit* m_min;
    QLineEdit* m_max;
    QComboBox* m_minLine;
    QLineEdit* m_filter;
    QProgressBar* m_searchAnim;
    QTreeView* m_list;
    QStatusBar* m_statusBar;
    QLabel* m_statusLabel;
    QMenu* m_searchMenu;

    QAction* m_actDownload;
    QAction* m_actTree;
    QAction* m_actUpload;
    QAction* m_actClear;
    QAction* m_actUserInfo;
    QAction* m_actAddComputer;
    QAction* m_actSendMessage;
    QAction* m_actPTPChat;
};

}  // namespace mr
