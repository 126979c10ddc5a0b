#pragma once
// The message list's model. A row carries only the index of its record in the window's array and its
// check mark; the texts are decoded from the record when the view asks, so a mailbox of hundreds of
// thousands of messages lists at once.

#include "document/carveddisk.h"
#include "document/listorder.h"
#include "eudora/toc.h"
#include "mail/Globals.h"
#include "search/codepage.h"

#include <QAbstractTableModel>
#include <QSortFilterProxyModel>

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

namespace quillmend {

class TEmailListModel : public QAbstractTableModel {
  Q_OBJECT
public:
  enum TColumn { ItemNum, Date, From, To, Subject, Status, ColumnCount };
  static constexpr int RecordIndexRole = Qt::UserRole + 1;

  explicit TEmailListModel(QObject* parent = nullptr);

  // Rows are appended between BeginRebuild and EndRebuild only; the view sees one reset. The rows
  // refer to emails, which the model keeps while it shows them.
  void BeginRebuild(std::shared_ptr<const TEmailArray> emails, TCodePage page = TCodePage::Windows);
  void AddEmailItem(std::size_t index);  // one row, unchecked, for emails[index]
  void EndRebuild();
  // What the index says of each record, parallel to the records; set between BeginRebuild and
  // EndRebuild. Records beyond it show "No index".
  void SetStates(std::shared_ptr<const std::vector<TMessageState>> states);
  TMessageState State(int row) const;
  // The carved disk the records came from, or none; set between BeginRebuild and EndRebuild. Its
  // records show, in the Status column, whether they are complete or cut and where they lie.
  void SetDisk(std::shared_ptr<const TCarvedDisk> disk) { FDisk = std::move(disk); }

  const TEmailArray& Emails() const { return *FEmails; }
  const std::vector<TMessageState>& States() const { return *FStates; }
  std::size_t RecordIndex(int row) const { return FRows[static_cast<std::size_t>(row)].Index; }
  bool IsChecked(int row) const { return FRows[static_cast<std::size_t>(row)].Checked; }
  void SetAllChecked(bool checked);
  // Checks exactly the rows whose record is one of those wanted.
  void CheckRecords(const std::function<bool(std::size_t record)>& wanted);
  // The text of a cell as the list shows it: names and subjects decoded, the date as stored.
  QString Text(int row, int column) const;
  TCodePage CodePage() const { return FCodePage; }  // of the mailbox the rows come from

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
  struct TRow {
    std::size_t Index;
    bool Checked;
  };
  std::shared_ptr<const TEmailArray> FEmails = std::make_shared<const TEmailArray>();
  std::vector<TRow> FRows;
  std::shared_ptr<const std::vector<TMessageState>> FStates = std::make_shared<const std::vector<TMessageState>>();
  TCodePage FCodePage = TCodePage::Windows;
  std::shared_ptr<const TCarvedDisk> FDisk;
};

// The list's order. Sorts only when told to, never on its own: rows keep their place when checked,
// and a rebuild lists them in array order again.
class TEmailSortProxy : public QSortFilterProxyModel {
  Q_OBJECT
public:
  explicit TEmailSortProxy(TEmailListModel& model, QObject* parent = nullptr);

  void SortRows(int column, bool ascending);
  void Unsort();

  // Negative when source row row1 goes before row2, in the core's list order (the one the
  // command-line tool sorts by): the record index for "Item Num", the instant for "Date", the decoded
  // text regardless of letter case for the others; reversed when descending, ties in file order.
  int CompareRows(int row1, int row2, int column) const;

protected:
  bool lessThan(const QModelIndex& left, const QModelIndex& right) const override;

private:
  const TListOrder& Order(int column) const;

  TEmailListModel& FModel;
  bool FAscending = false;
  // Made once per column and list: a sort of hundreds of thousands of rows then compares integers.
  mutable std::optional<TListOrder> FOrder;
  mutable int FOrderColumn = -1;
};

}  // namespace quillmend
