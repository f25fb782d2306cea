#include "list_model.h"

#include <QMimeData>

#include <algorithm>

#include "icons.h"
#include "texts.h"
#include "ui/sjis_text.h"

namespace tarn::gpsend {

using addressbook::kListColumnCount;
using addressbook::ListColumn;

ListModel::ListModel(addressbook::ListViewState& state, addressbook::BookEditor& editor,
                     QObject* parent)
    : QAbstractTableModel(parent), m_state(state), m_editor(editor) {
    m_state.setObserver(this);
}

ListModel::~ListModel() {
    m_state.setObserver(nullptr);
}

int ListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_state.rowCount());
}

int ListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(kListColumnCount);
}

QVariant ListModel::data(const QModelIndex& index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid)) {
        return {};
    }
    const auto row = static_cast<std::size_t>(index.row());
    const auto column = static_cast<ListColumn>(index.column());
    switch (role) {
        case Qt::DisplayRole:
            return ui::fromSjis(m_state.text(row, column));
        case Qt::DecorationRole:
            if (column == ListColumn::SendOrder && !m_state.isBlankRow(row)) {
                const int icon = m_state.icon(row);
                return m_state.hasOverlay(row) ? folderIconWithOverlay(icon) : folderIcon(icon);
            }
            break;
        case Qt::TextAlignmentRole:
            if (column == ListColumn::SendOrder) {
                return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
            }
            break;
        default:
            break;
    }
    return {};
}

QVariant ListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 &&
        section < static_cast<int>(kListColumnCount)) {
        return QString::fromUtf8(text::kColumnHeaders[section]);
    }
    return QAbstractTableModel::headerData(section, orientation, role);
}

Qt::ItemFlags ListModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) {
        return Qt::ItemIsDropEnabled;
    }
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDropEnabled;
    if (!m_state.isBlankRow(static_cast<std::size_t>(index.row()))) {
        f |= Qt::ItemIsDragEnabled;
    }
    return f;
}

Result<std::vector<const addressbook::Record*>> recordsOfDrag(const addressbook::CTarnSendDoc& doc,
                                                              const QMimeData& data) {
    const QByteArray bytes = data.data(QString::fromLatin1(kRecordFormat));
    return addressbook::recordsOfSet(
        doc, std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
}

QStringList ListModel::mimeTypes() const {
    return {QString::fromLatin1(kRecordFormat)};
}

QMimeData* ListModel::mimeData(const QModelIndexList& indexes) const {
    // One index per cell: the rows, each once, top to bottom.
    std::vector<int> rows;
    rows.reserve(static_cast<std::size_t>(indexes.size()));
    for (const QModelIndex& i : indexes) {
        rows.push_back(i.row());
    }
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    std::vector<const addressbook::Record*> records;
    records.reserve(rows.size());
    for (int row : rows) {
        if (const auto* r = m_state.recordAt(static_cast<std::size_t>(row))) {
            records.push_back(r);
        }
    }
    if (records.empty()) {
        return nullptr;
    }
    auto* mime = new QMimeData;  // owned by the drag that asked for it
    const std::string bytes = addressbook::recordSetOf(m_state.document(), records);
    mime->setData(QString::fromLatin1(kRecordFormat),
                  QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())));
    return mime;
}

Qt::DropActions ListModel::supportedDragActions() const {
    return Qt::CopyAction | Qt::MoveAction;
}

Qt::DropActions ListModel::supportedDropActions() const {
    return Qt::CopyAction | Qt::MoveAction;
}

bool ListModel::canDropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                                const QModelIndex& parent) const {
    (void)action;
    (void)row;
    (void)column;
    (void)parent;
    return data != nullptr && data->hasFormat(QString::fromLatin1(kRecordFormat)) &&
           m_state.hasBlankRow();
}

bool ListModel::dropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                             const QModelIndex& parent) {
    if (!canDropMimeData(data, action, row, column, parent)) {
        return false;
    }
    auto records = recordsOfDrag(m_state.document(), *data);
    if (!records) {
        emit dropRefused(QString::fromStdString(records.error().message));
        return false;
    }
    std::vector<std::size_t> rows;
    for (const auto* r : *records) {
        if (auto at = m_state.rowOf(r)) {
            rows.push_back(*at);
        }
    }
    // On a row: that row; between rows: the row below; below the last row: the end.
    const std::size_t target = parent.isValid() ? static_cast<std::size_t>(parent.row())
                               : row >= 0       ? static_cast<std::size_t>(row)
                                                : m_state.recordRowCount();
    if (auto moved = m_editor.dropRowsOnList(rows, target); !moved) {
        emit dropRefused(QString::fromStdString(moved.error().message));
    }
    // The rows were moved here; the source must not remove anything.
    return false;
}

void ListModel::sort(int column, Qt::SortOrder order) {
    if (column >= 0 && column < static_cast<int>(kListColumnCount)) {
        m_state.sort(static_cast<ListColumn>(column), order == Qt::DescendingOrder
                                                          ? addressbook::SortOrder::Descending
                                                          : addressbook::SortOrder::Ascending);
    }
}

// --- the state's row changes

void ListModel::beginReset() {
    beginResetModel();
}

void ListModel::endReset() {
    endResetModel();
    emit countChanged();
}

void ListModel::beginInsertRows(std::size_t first, std::size_t count) {
    QAbstractTableModel::beginInsertRows({}, static_cast<int>(first),
                                         static_cast<int>(first + count - 1));
}

void ListModel::endInsertRows() {
    QAbstractTableModel::endInsertRows();
    emit countChanged();
}

void ListModel::beginRemoveRows(std::size_t first, std::size_t count) {
    QAbstractTableModel::beginRemoveRows({}, static_cast<int>(first),
                                         static_cast<int>(first + count - 1));
}

void ListModel::endRemoveRows() {
    QAbstractTableModel::endRemoveRows();
    emit countChanged();
}

void ListModel::beginLayoutChange() {
    emit layoutAboutToBeChanged();
    // Persistent indexes (the selection, the current row) follow their records.
    m_persistent.clear();
    for (const QModelIndex& i : persistentIndexList()) {
        m_persistent.emplace_back(i, m_state.recordAt(static_cast<std::size_t>(i.row())));
    }
}

void ListModel::endLayoutChange() {
    for (const auto& [old, record] : m_persistent) {
        int row = static_cast<int>(m_state.recordRowCount());  // the blank row
        if (record != nullptr) {
            auto at = m_state.rowOf(record);
            row = at ? static_cast<int>(*at) : -1;
        }
        changePersistentIndex(old, row >= 0 ? index(row, old.column()) : QModelIndex());
    }
    m_persistent.clear();
    emit layoutChanged();
}

void ListModel::rowsChanged(std::size_t first, std::size_t last) {
    emit dataChanged(index(static_cast<int>(first), 0),
                     index(static_cast<int>(last), static_cast<int>(kListColumnCount) - 1));
}

}  // namespace tarn::gpsend
