#pragma once

#include <QMainWindow>
#include <QMdiArea>

namespace mr {

// The multiple-document frame every other window opens in.
class TfrmMain : public QMainWindow {
    Q_OBJECT
public:
    explicit TfrmMain(QWidget* parent = nullptr);

    static QString captionFor(const QString& nickname);

private:
    QMdiArea* m_mdiArea;
};

}  // namespace mr
