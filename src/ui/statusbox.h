#pragma once

#include <QFrame>
#include <QString>

class QTimer;
class QListWidget;
class QListWidgetItem;

namespace mr {

// What a status task is filed under: the address of the object it concerns, or any number the
// caller keeps. Plain integers travel through queued signals.
using TaskKey = quintptr;

inline TaskKey taskKey(const void* object) {
    return reinterpret_cast<TaskKey>(object);
}

// "Tasks Status": the running and recently finished background tasks. A running task blinks;
// a finished one fades out, a success in 4 seconds and a failure in 7.5.
class TfrmStatusBox : public QFrame {
    Q_OBJECT
public:
    static constexpr int kTickMs = 500;
    static constexpr int kFirstSuccessImage = 2;
    static constexpr int kFirstFailureImage = 10;
    static constexpr int kImageCount = 25;

    explicit TfrmStatusBox(QWidget* parent = nullptr);

    void addTask(const QString& text, TaskKey key);
    // Both act on the first running task with the key, or else the first task with it; false
    // when there is none.
    bool setTaskText(TaskKey key, const QString& text);
    bool endTask(TaskKey key, bool success);

    int taskCount() const;
    QString taskText(int row) const;
    int taskImage(int row) const;

    // One step of the task clock: running tasks blink, finished ones fade and leave.
    void tick();
    // Off: the clock only advances through tick(), so tests need not wait.
    void setAutoTick(bool on);

signals:
    // The user closed the box with its own button.
    void closeRequested();

private:
    QListWidgetItem* findTask(TaskKey key) const;
    void setImage(QListWidgetItem* item, int image);
    void updateTimer();

    QListWidget* m_lvwTasks;
    QTimer* m_tmrTasks;
    bool m_autoTick = true;
};

}  // namespace mr
