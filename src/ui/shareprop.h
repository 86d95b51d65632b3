#pragma once

#include <QDialog>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QSpinBox;
class QTabWidget;

namespace mr {

class TFileItem;
class TLocalMRTree;

// "Share Properties": the download password, credit ratio and friends-only flag of one entry
// of the user's catalog. OK changes the item in memory and stores the password in the
// catalog, so that the peer file server asks for it.
class TdlgShareProp : public QDialog {
    Q_OBJECT
public:
    static constexpr char kRetypeText[] = "Please re-type your password.";

    // catalog: where the entry's password is stored; null leaves the catalog alone.
    TdlgShareProp(TFileItem& item, TLocalMRTree* catalog, QWidget* parent = nullptr);

    QTabWidget* pages() const { return m_pages; }
    QCheckBox* chkPassword() const { return m_chkPassword; }
    QLineEdit* edtPassword() const { return m_edtPassword; }
    QLineEdit* edtVerify() const { return m_edtVerify; }
    QCheckBox* chkRatio() const { return m_chkRatio; }
    QSpinBox* spnUpload() const { return m_spnUpload; }
    QSpinBox* spnDownload() const { return m_spnDownload; }
    QComboBox* cmbStyle() const { return m_cmbStyle; }
    QCheckBox* chkFriendsOnly() const { return m_chkFriendsOnly; }

public slots:
    void accept() override;

private:
    bool storePassword(const QString& password);

    TFileItem& m_item;
    TLocalMRTree* m_catalog;
    QTabWidget* m_pages;
    QCheckBox* m_chkPassword;
    QLineEdit* m_edtPassword;
    QLineEdit* m_edtVerify;
    QCheckBox* m_chkRatio;
    QSpinBox* m_spnUpload;
    QSpinBox* m_spnDownload;
    QComboBox* m_cmbStyle;
    QCheckBox* m_chkFriendsOnly;
};

}  // namespace mr
