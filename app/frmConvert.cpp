#include "app/frmConvert.h"

#include "app/application.h"
#include "app/qttext.h"

#include <QBoxLayout>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFormLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>

namespace quillmend {

namespace {

// A path as the user types it; blanks around it are taken for slips of the hand.
std::filesystem::path TypedPath(const QLineEdit* edit) { return QStringToPath(edit->text().trimmed()); }

QString Shown(const std::filesystem::path& path) { return QDir::toNativeSeparators(PathToQString(path)); }

void Select(QComboBox* combo, int value) { combo->setCurrentIndex(std::max(0, combo->findData(value))); }

}  // namespace

TfrmConvert::TfrmConvert(const TConvertRequest& proposed, QWidget* parent) : QDialog(parent)
{
  setObjectName(QStringLiteral("frmConvert"));
  setWindowTitle(QStringLiteral("Convert Whole Mail Folder"));
  setFont(WindowFont());

  const auto folderRow = [this](QLineEdit*& edit, QPushButton*& browse, const char* editName, const char* buttonName) {
    auto* row = new QHBoxLayout();
    edit = new QLineEdit(this);
    edit->setObjectName(QLatin1String(editName));
    edit->setMinimumWidth(360);
    browse = new QPushButton(QStringLiteral("Browse..."), this);
    browse->setObjectName(QLatin1String(buttonName));
    row->addWidget(edit, 1);
    row->addWidget(browse);
    return row;
  };
  auto* form = FForm = new QFormLayout();
  form->addRow(QStringLiteral("Eudora mail folder:"),
               folderRow(edtEudoraFolder, btnBrowseEudora, "edtEudoraFolder", "btnBrowseEudora"));
  cboFormat = new QComboBox(this);
  cboFormat->setObjectName(QStringLiteral("cboFormat"));
  cboFormat->addItem(QStringLiteral("Maildir (Dovecot, Courier, mutt)"), static_cast<int>(TStoreKind::Maildir));
  cboFormat->addItem(QStringLiteral("Thunderbird Local Folders (mbox)"), static_cast<int>(TStoreKind::MboxTree));
  cboFormat->addItem(QStringLiteral("Folders of .eml files"), static_cast<int>(TStoreKind::EmlTree));
#ifdef QUILLMEND_HAVE_IMAP
  cboFormat->addItem(QStringLiteral("Mail account (IMAP)"), kImapFormat);
#endif
  form->addRow(QStringLiteral("Format:"), cboFormat);
  FTargetRow = new QWidget(this);
  FTargetRow->setLayout(folderRow(edtTarget, btnBrowseTarget, "edtTarget", "btnBrowseTarget"));
  FTargetRow->layout()->setContentsMargins(0, 0, 0, 0);
  form->addRow(QStringLiteral("Target folder:"), FTargetRow);

  grpAccount = new QWidget(this);
  grpAccount->setObjectName(QStringLiteral("grpAccount"));
  auto* account = new QFormLayout(grpAccount);
  account->setContentsMargins(0, 0, 0, 0);
  edtServer = new QLineEdit(grpAccount);
  edtServer->setObjectName(QStringLiteral("edtServer"));
  edtServer->setPlaceholderText(QStringLiteral("imap.example.org"));
  spnPort = new QSpinBox(grpAccount);
  spnPort->setObjectName(QStringLiteral("spnPort"));
  spnPort->setRange(1, 65535);
  cboSecurity = new QComboBox(grpAccount);
  cboSecurity->setObjectName(QStringLiteral("cboSecurity"));
  cboSecurity->addItem(QStringLiteral("TLS (port 993)"), static_cast<int>(TImapSecurity::Tls));
  cboSecurity->addItem(QStringLiteral("STARTTLS (port 143)"), static_cast<int>(TImapSecurity::StartTls));
  edtUser = new QLineEdit(grpAccount);
  edtUser->setObjectName(QStringLiteral("edtUser"));
  edtPassword = new QLineEdit(grpAccount);
  edtPassword->setObjectName(QStringLiteral("edtPassword"));
  edtPassword->setEchoMode(QLineEdit::Password);
  account->addRow(QStringLiteral("Server:"), edtServer);
  account->addRow(QStringLiteral("Security:"), cboSecurity);
  account->addRow(QStringLiteral("Port:"), spnPort);
  account->addRow(QStringLiteral("User name:"), edtUser);
  account->addRow(QStringLiteral("Password:"), edtPassword);
  form->addRow(grpAccount);
  cboDeleted = new QComboBox(this);
  cboDeleted->setObjectName(QStringLiteral("cboDeleted"));
  cboDeleted->addItem(QStringLiteral("Into a folder \"Recovered\" that repeats the tree"),
                      static_cast<int>(TDeletedMail::Separate));
  cboDeleted->addItem(QStringLiteral("Beside the live mail, marked Recovered"), static_cast<int>(TDeletedMail::Same));
  cboDeleted->addItem(QStringLiteral("Leave out"), static_cast<int>(TDeletedMail::Skip));
  form->addRow(QStringLiteral("Deleted mail:"), cboDeleted);

  Buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(Buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  edtEudoraFolder->setText(Shown(proposed.EudoraFolder));
  edtTarget->setText(Shown(proposed.Target));
  Select(cboFormat, proposed.ToImap ? kImapFormat : static_cast<int>(proposed.Kind));
  Select(cboDeleted, static_cast<int>(proposed.Deleted));
  edtServer->setText(QString::fromStdString(proposed.Imap.Host));
  Select(cboSecurity, static_cast<int>(proposed.Imap.Security));
  spnPort->setValue(proposed.Imap.Port);
  edtUser->setText(QString::fromStdString(proposed.Imap.User));
  edtPassword->setText(QString::fromStdString(proposed.Imap.Password));
  ShowTarget();
  UpdateOk();

  connect(edtEudoraFolder, &QLineEdit::textChanged, this, &TfrmConvert::UpdateOk);
  connect(edtTarget, &QLineEdit::textChanged, this, &TfrmConvert::UpdateOk);
  for (QLineEdit* edit : {edtServer, edtUser, edtPassword})
    connect(edit, &QLineEdit::textChanged, this, &TfrmConvert::UpdateOk);
  connect(cboFormat, &QComboBox::currentIndexChanged, this, [this] {
    ShowTarget();
    UpdateOk();
  });
  // The usual port of each kind of security, until the user sets another.
  connect(cboSecurity, &QComboBox::currentIndexChanged, this, [this] {
    const bool tls = static_cast<TImapSecurity>(cboSecurity->currentData().toInt()) == TImapSecurity::Tls;
    if (spnPort->value() == (tls ? 143 : 993))
      spnPort->setValue(tls ? 993 : 143);
  });
  connect(btnBrowseEudora, &QPushButton::clicked, this,
          [this] { Browse(edtEudoraFolder, QStringLiteral("Select The Eudora Mail Folder")); });
  connect(btnBrowseTarget, &QPushButton::clicked, this,
          [this] { Browse(edtTarget, QStringLiteral("Select Where To Make The Converted Mail")); });
  connect(Buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(Buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

TConvertRequest TfrmConvert::Request() const
{
  TConvertRequest request;
  request.EudoraFolder = TypedPath(edtEudoraFolder);
  request.Kind = static_cast<TStoreKind>(cboFormat->currentData().toInt());
  request.Target = TypedPath(edtTarget);
  request.Deleted = static_cast<TDeletedMail>(cboDeleted->currentData().toInt());
  request.ToImap = cboFormat->currentData().toInt() == kImapFormat;
  if (request.ToImap) {
    request.Kind = TStoreKind::Maildir;
    request.Target.clear();
  }
  request.Imap.Host = edtServer->text().trimmed().toStdString();
  request.Imap.Port = static_cast<std::uint16_t>(spnPort->value());
  request.Imap.Security = static_cast<TImapSecurity>(cboSecurity->currentData().toInt());
  request.Imap.User = edtUser->text().trimmed().toStdString();
  request.Imap.Password = edtPassword->text().toStdString();
  return request;
}

void TfrmConvert::Browse(QLineEdit* edit, const QString& title)
{
  const QString folder = QFileDialog::getExistingDirectory(this, title, edit->text().trimmed());
  if (!folder.isEmpty())
    edit->setText(QDir::toNativeSeparators(folder));
}

void TfrmConvert::ShowTarget()
{
  const bool imap = cboFormat->currentData().toInt() == kImapFormat;
  FForm->setRowVisible(FTargetRow, !imap);
  grpAccount->setVisible(imap);
}

void TfrmConvert::UpdateOk()
{
  const bool imap = cboFormat->currentData().toInt() == kImapFormat;
  const bool target = imap ? !edtServer->text().trimmed().isEmpty() && !edtUser->text().trimmed().isEmpty() &&
                                 !edtPassword->text().isEmpty()
                           : !edtTarget->text().trimmed().isEmpty();
  Buttons->button(QDialogButtonBox::Ok)->setEnabled(!edtEudoraFolder->text().trimmed().isEmpty() && target);
}

TfrmTable::TfrmTable(const QString& title, const QStringList& heads, const QList<QStringList>& rows,
                     const QString& notes, QWidget* parent)
    : QDialog(parent)
{
  setObjectName(QStringLiteral("frmTable"));
  setWindowTitle(title);
  setFont(WindowFont());
  Table = new QTableWidget(static_cast<int>(rows.size()), static_cast<int>(heads.size()), this);
  Table->setObjectName(QStringLiteral("Table"));
  Table->setHorizontalHeaderLabels(heads);
  Table->verticalHeader()->hide();
  Table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  Table->setSelectionBehavior(QAbstractItemView::SelectRows);
  for (int row = 0; row < rows.size(); ++row)
    for (int column = 0; column < rows[row].size() && column < heads.size(); ++column) {
      auto* item = new QTableWidgetItem(rows[row][column]);
      // The first column names the row; the others are counts, right-aligned so their digits line up.
      if (column > 0)
        item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
      Table->setItem(row, column, item);
    }
  Table->resizeColumnsToContents();
  Notes = new QPlainTextEdit(notes, this);
  Notes->setObjectName(QStringLiteral("Notes"));
  Notes->setReadOnly(true);
  Notes->setLineWrapMode(QPlainTextEdit::NoWrap);
  Notes->setVisible(!notes.isEmpty());
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(Table, 3);
  layout->addWidget(Notes, 1);
  layout->addWidget(buttons);
  resize(720, 460);
}

}  // namespace quillmend
