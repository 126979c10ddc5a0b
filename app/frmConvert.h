#pragma once
// File > Convert Whole Mail Folder: where the Eudora folder is, what to make of it and where, and
// what becomes of the deleted mail. And the table the conversion's report is shown in.

#include "app/userinterface.h"

#include <QDialog>

class QComboBox;
class QDialogButtonBox;
class QFormLayout;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;
class QTableWidget;
class QWidget;

namespace quillmend {

class TfrmConvert : public QDialog {
  Q_OBJECT
public:
  explicit TfrmConvert(const TConvertRequest& proposed, QWidget* parent = nullptr);

  // What the controls say now.
  TConvertRequest Request() const;

  QLineEdit* edtEudoraFolder;
  QPushButton* btnBrowseEudora;
  QComboBox* cboFormat;
  QLineEdit* edtTarget;
  QPushButton* btnBrowseTarget;
  QComboBox* cboDeleted;
  // The mail account, shown when the format is "Mail account (IMAP)".
  QWidget* grpAccount;
  QLineEdit* edtServer;
  QSpinBox* spnPort;
  QComboBox* cboSecurity;
  QLineEdit* edtUser;
  QLineEdit* edtPassword;
  QDialogButtonBox* Buttons;

  // cboFormat's value for an IMAP account.
  static constexpr int kImapFormat = 100;

private:
  void Browse(QLineEdit* edit, const QString& title);
  void UpdateOk();
  void ShowTarget();
  QWidget* FTargetRow = nullptr;
  QFormLayout* FForm = nullptr;
};

// A report as a read-only table, its numbers right-aligned, with notes under it.
class TfrmTable : public QDialog {
  Q_OBJECT
public:
  TfrmTable(const QString& title, const QStringList& heads, const QList<QStringList>& rows, const QString& notes,
            QWidget* parent = nullptr);

  QTableWidget* Table;
  QPlainTextEdit* Notes;
};

}  // namespace quillmend
