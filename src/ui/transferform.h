#pragma once

#include "transfer/queue.h"

#include <QElapsedTimer>
#include <QHash>
#include <QIcon>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>

class QAction;
class QMenu;
class QTableWidget;
class QTimer;
class QUrl;
class QToolBar;

namespace mr {

// What the transfer window asks of the peer file server and the credits table.
struct TransferActions {
    // Abort an incoming push for this download.
    std::function<void(qint32 downloadId)> abortDownload;
    // Abort the outgoing push of this upload.
    std::function<void(qint32 uploadId)> abortUpload;
    // Write a user's credit status; 2 bans.
    std::function<void(const QString& userName, int status)> setUserStatus;
};

// The "CPS" and "Estimated" texts of a running transfer.
struct RateText {
    QString cps;
    QString estimated;
};

// Rate in bytes per millisecond since the row appeared ("%.2f") and the time left at that rate
// ("%02d:%02d:%02d"; zero when nothing has moved yet).
RateText rateTexts(qint64 done, qint64 size, qint64 elapsedMs);

// The text on the percentage bar ("42%"); empty while the size is unknown.
QString percentageText(qint64 done, qint64 size);

// The user's view of every transfer: downloads above, uploads below, one row per queue item
// in queue order. A child window that stays for the life of the program.
class Tfrm_transfer : public QWidget {
    Q_OBJECT
public:
    enum Column {
        ColFilename,
        ColUserName,
        ColAction,
        ColFileSize,
        ColProgress,
        ColStatus,
        ColPercentage,
        ColCps,
        ColEstimated,
        ColumnCount
    };

    // Milliseconds of a steady clock; the rates are measured against it.
    using Clock = std::function<qint64()>;

    Tfrm_transfer(TMRWantedList& downloads, TMRWaitingList& uploads, TransferActions actions,
                  QWidget* parent = nullptr);
    ~Tfrm_transfer() override;

    // What the main window's description area says while this window is active.
    static QString description();

    QTableWidget* lvwManual() const { return m_lvwManual; }
    QTableWidget* lvwAutomatic() const { return m_lvwAutomatic; }
    QTimer* cpsTimer() const { return m_cpsTimer; }

    QAction* actClearComplete() const { return m_actClearComplete; }
    QAction* actAbort() const { return m_actAbort; }
    QAction* actKick() const { return m_actKick; }
    QAction* actBan() const { return m_actBan; }
    QAction* actPMessage() const { return m_actPMessage; }
    QAction* actUserInformation() const { return m_actUserInformation; }
    QAction* actUserTree() const { return m_actUserTree; }
    QAction* actPTP() const { return m_actPTP; }
    QAction* actAddUser() const { return m_actAddUser; }
    QAction* actUpload() const { return m_actUpload; }
    QAction* actOpen() const { return m_actOpen; }
    QAction* actOpenFolder() const { return m_actOpenFolder; }

    // Opens a file or folder with the desktop's default application.
    using Opener = std::function<bool(const QUrl&)>;
    void setOpener(Opener opener) { m_opener = std::move(opener); }

    // Replaces the clock rows are timed with; rows already shown keep their start reading.
    void setClock(Clock clock);

    // One tick of the rate timer: new "CPS" and "Estimated" texts for running transfers.
    void CpsTimerTimer();

signals:
    // The user asked for something about the selected row's user.
    void personalMessageRequested(qint32 userId, const QString& nick);
    void userInformationRequested(qint32 userId, const QString& nick);
    void userTreeRequested(qint32 userId, const QString& nick);
    void privateChatRequested(qint32 userId, const QString& nick);
    void addUserRequested(qint32 userId, const QString& nick);

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QTableWidget* createList(const char* name);
    QAction* createAction(const char* name, const QString& caption);

    void addRow(QTableWidget* list, const TMRQueItem& item);
    void removeRow(QTableWidget* list, qint32 id);
    void showStatus(QTableWidget* list, const TMRQueItem& item);
    void showTransferred(QTableWidget* list, qint32 id, qint64 bytes);
    void showSize(QTableWidget* list, qint32 id, qint64 bytes);
    void repaintBar(QTableWidget* list, int row);
    void updateRates(QTableWidget* list);

    // The row showing the item with this id, or -1.
    static int rowOf(const QTableWidget* list, qint32 id);
    QIcon iconFor(const QString& fileName);

    // The queue item of the selected row of the list the user works in, or null.
    TMRQueItem* selectedItem() const;
    QString selectedStatusText() const;
    void setActiveList(QTableWidget* list);
    void updateActions();

    void actClearCompleteExecute();
    void actAbortExecute();
    void actKickExecute();
    void actBanExecute();
    // The selected download's file in the download folder, when it is there.
    QString selectedLocalFile() const;
    void emitForSelectedUser(void (Tfrm_transfer::*signal)(qint32, const QString&));

    QPointer<TMRWantedList> m_downloads;
    QPointer<TMRWaitingList> m_uploads;
    TransferActions m_actions;

    QToolBar* m_toolBar;
    QTableWidget* m_lvwManual;
    QTableWidget* m_lvwAutomatic;
    QMenu* m_popupMenu;
    QTimer* m_cpsTimer;
    // The list whose selection the actions refer to; null when the user left both.
    QTableWidget* m_activeList = nullptr;

    QAction* m_actClearComplete;
    QAction* m_actAbort;
    QAction* m_actKick;
    QAction* m_actBan;
    QAction* m_actPMessage;
    QAction* m_actUserInformation;
    QAction* m_actUserTree;
    QAction* m_actPTP;
    QAction* m_actAddUser;
    QAction* m_actUpload;
    QAction* m_actOpen;
    QAction* m_actOpenFolder;
    Opener m_opener;

    QElapsedTimer m_processClock;
    Clock m_clock;
    QHash<QString, QIcon> m_icons;
};

}  // namespace mr
