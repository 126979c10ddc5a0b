#include "app/emaillistmodel.h"

#include "app/application.h"
#include "app/qttext.h"

#include "mime/headertext.h"

#include <QTextDocument>

namespace quillmend {

namespace {

const char* const kColumnNames[] = {"Item Num", "Date", "From", "To", "Subject", "Status"};

// The core's name for a column of the list.
TListColumn ListColumn(int column)
{
  static constexpr TListColumn kColumns[] = {TListColumn::Index, TListColumn::Date,    TListColumn::From,
                                             TListColumn::To,    TListColumn::Subject, TListColumn::Status};
  return kColumns[column];
}

}  // namespace

TEmailListModel::TEmailListModel(QObject* parent) : QAbstractTableModel(parent) {}

void TEmailListModel::BeginRebuild(std::shared_ptr<const TEmailArray> emails, TCodePage page)
{
  beginResetModel();
  FRows.clear();
  FEmails = std::move(emails);
  FCodePage = page;
}

void TEmailListModel::AddEmailItem(std::size_t index) { FRows.push_back({index, false}); }

void TEmailListModel::EndRebuild() { endResetModel(); }

void TEmailListModel::SetStates(std::shared_ptr<const std::vector<TMessageState>> states)
{
  FStates = std::move(states);
}

TMessageState TEmailListModel::State(int row) const
{
  const std::size_t record = RecordIndex(row);
  return record < FStates->size() ? (*FStates)[record] : TMessageState::NoIndex;
}

void TEmailListModel::SetAllChecked(bool checked)
{
  CheckRecords([checked](std::size_t) { return checked; });
}

void TEmailListModel::CheckRecords(const std::function<bool(std::size_t record)>& wanted)
{
  if (FRows.empty())
    return;
  for (TRow& row : FRows)
    row.Checked = wanted(row.Index);
  emit dataChanged(index(0, ItemNum), index(rowCount() - 1, ItemNum), {Qt::CheckStateRole});
}

QString TEmailListModel::Text(int row, int column) const
{
  const std::size_t record = RecordIndex(row);
  if (FDisk && column == Status)
    return QString::fromStdString(FDisk->StateText(record) + ", " + FDisk->WhereText(record));
  return QString::fromStdString(
      CellText((*FEmails)[record], record, State(row), ListColumn(column), FCodePage, TNulDisplay::VisibleSymbol));
}

int TEmailListModel::rowCount(const QModelIndex& parent) const
{
  return parent.isValid() ? 0 : static_cast<int>(FRows.size());
}

int TEmailListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : ColumnCount; }

QVariant TEmailListModel::data(const QModelIndex& index, int role) const
{
  if (!checkIndex(index, CheckIndexOption::IndexIsValid))
    return {};
  switch (role) {
  case Qt::DisplayRole: return Text(index.row(), index.column());
  case Qt::ToolTipRole:
    // Escaped, or a header value that looks like HTML would be rendered as such.
    return Qt::convertFromPlainText(Text(index.row(), index.column()), Qt::WhiteSpacePre);
  case Qt::CheckStateRole:
    if (index.column() == ItemNum)
      return IsChecked(index.row()) ? Qt::Checked : Qt::Unchecked;
    return {};
  case Qt::DecorationRole:
    if (index.column() == ItemNum)
      return AppIcon(State(index.row()) == TMessageState::NotInIndex ? "deleted" : "message");
    return {};
  case RecordIndexRole: return QVariant::fromValue<qulonglong>(RecordIndex(index.row()));
  default: return {};
  }
}

bool TEmailListModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
  if (role != Qt::CheckStateRole || index.column() != ItemNum || !checkIndex(index, CheckIndexOption::IndexIsValid))
    return false;
  FRows[static_cast<std::size_t>(index.row())].Checked = value.value<Qt::CheckState>() == Qt::Checked;
  emit dataChanged(index, index, {Qt::CheckStateRole});
  return true;
}

Qt::ItemFlags TEmailListModel::flags(const QModelIndex& index) const
{
  if (!index.isValid())
    return Qt::NoItemFlags;
  Qt::ItemFlags result = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
  if (index.column() == ItemNum)
    result |= Qt::ItemIsUserCheckable;
  return result;
}

QVariant TEmailListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
  if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < ColumnCount)
    return QString::fromLatin1(kColumnNames[section]);
  return QAbstractTableModel::headerData(section, orientation, role);
}

TEmailSortProxy::TEmailSortProxy(TEmailListModel& model, QObject* parent) : QSortFilterProxyModel(parent), FModel(model)
{
  setDynamicSortFilter(false);
  setSourceModel(&model);
  connect(&model, &QAbstractItemModel::modelReset, this, [this] {
    FOrder.reset();
    FOrderColumn = -1;
  });
}

void TEmailSortProxy::SortRows(int column, bool ascending)
{
  FAscending = ascending;
  // The order itself lives in CompareRows, so Qt is always asked for "ascending".
  sort(column, Qt::AscendingOrder);
}

void TEmailSortProxy::Unsort() { sort(-1); }

int TEmailSortProxy::CompareRows(int row1, int row2, int column) const
{
  return Order(column).Compare(static_cast<std::size_t>(row1), static_cast<std::size_t>(row2), FAscending);
}

bool TEmailSortProxy::lessThan(const QModelIndex& left, const QModelIndex& right) const
{
  return CompareRows(left.row(), right.row(), left.column()) < 0;
}

const TListOrder& TEmailSortProxy::Order(int column) const
{
  if (FOrderColumn == column)
    return *FOrder;
  std::vector<std::size_t> records(static_cast<std::size_t>(FModel.rowCount()));
  for (std::size_t row = 0; row < records.size(); ++row)
    records[row] = FModel.RecordIndex(static_cast<int>(row));
  FOrder.emplace(FModel.Emails(), std::move(records), ListColumn(column), FModel.CodePage(), &FModel.States());
  FOrderColumn = column;
  return *FOrder;
}

}  // namespace quillmend
