#include "app/emaillistmodel.h"

#include "app/application.h"
#include "app/qttext.h"

#include <QTextDocument>

#include <algorithm>
#include <numeric>
#include <unordered_map>

namespace quillmend {

namespace {

const char* const kColumnNames[] = {"Item Num", "Date", "From", "To", "Subject", "Status"};

const std::string& Field(const TEmail& email, int column)
{
  switch (column) {
  case TEmailListModel::Date:
    return email.Date;
  case TEmailListModel::From:
    return email.From;
  case TEmailListModel::To:
    return email.To;
  default:
    return email.Subject;
  }
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

void TEmailListModel::SetStates(std::shared_ptr<const std::vector<TMessageState>> states) { FStates = std::move(states); }

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
  if (column == ItemNum)
    return QString::number(RecordIndex(row));
  return FromMail(Bytes(row, column), FCodePage);
}

std::string_view TEmailListModel::Bytes(int row, int column) const
{
  // The state's words are ASCII, the same in every code page.
  if (column == Status)
    return StateWords(State(row));
  return Field((*FEmails)[RecordIndex(row)], column);
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
  case Qt::DisplayRole:
    return Text(index.row(), index.column());
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
  case RecordIndexRole:
    return QVariant::fromValue<qulonglong>(RecordIndex(index.row()));
  default:
    return {};
  }
}

bool TEmailListModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
  if (role != Qt::CheckStateRole || index.column() != ItemNum ||
      !checkIndex(index, CheckIndexOption::IndexIsValid))
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
  FCollator.setCaseSensitivity(Qt::CaseInsensitive);
  setSourceModel(&model);
  connect(&model, &QAbstractItemModel::modelReset, this, [this] {
    FRanks.clear();
    FRanksColumn = -1;
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
  int d;
  if (column == TEmailListModel::ItemNum) {
    const std::size_t a = FModel.RecordIndex(row1);
    const std::size_t b = FModel.RecordIndex(row2);
    d = a < b ? -1 : (a > b ? 1 : 0);
  } else {
    const std::vector<int>& ranks = Ranks(column);
    const int a = ranks[static_cast<std::size_t>(row1)];
    const int b = ranks[static_cast<std::size_t>(row2)];
    d = a < b ? -1 : (a > b ? 1 : 0);
  }
  return FAscending ? d : -d;
}

bool TEmailSortProxy::lessThan(const QModelIndex& left, const QModelIndex& right) const
{
  return CompareRows(left.row(), right.row(), left.column()) < 0;
}

const std::vector<int>& TEmailSortProxy::Ranks(int column) const
{
  if (FRanksColumn == column)
    return FRanks;
  const auto rows = static_cast<std::size_t>(FModel.rowCount());
  // Mail repeats its senders, recipients and subjects: each distinct value is decoded and collated once.
  std::unordered_map<std::string_view, int> ids;
  std::vector<std::string_view> distinct;
  std::vector<int> idOfRow(rows);
  for (std::size_t row = 0; row < rows; ++row) {
    const auto [at, added] = ids.try_emplace(FModel.Bytes(static_cast<int>(row), column), static_cast<int>(distinct.size()));
    if (added)
      distinct.push_back(at->first);
    idOfRow[row] = at->second;
  }
  std::vector<QCollatorSortKey> keys;
  keys.reserve(distinct.size());
  // Folded first: the C locale's collation would otherwise still tell the cases apart.
  for (const std::string_view text : distinct)
    keys.push_back(FCollator.sortKey(FromMail(text, FModel.CodePage()).toCaseFolded()));
  std::vector<int> order(distinct.size());
  std::iota(order.begin(), order.end(), 0);
  std::sort(order.begin(), order.end(), [&](int a, int b) { return keys[a].compare(keys[b]) < 0; });
  std::vector<int> rankOfId(distinct.size());
  int rank = 0;
  for (std::size_t i = 0; i < order.size(); ++i) {
    if (i > 0 && keys[order[i - 1]].compare(keys[order[i]]) != 0)
      ++rank;
    rankOfId[order[i]] = rank;
  }
  FRanks.resize(rows);
  for (std::size_t row = 0; row < rows; ++row)
    FRanks[row] = rankOfId[idOfRow[row]];
  FRanksColumn = column;
  return FRanks;
}

}  // namespace quillmend
