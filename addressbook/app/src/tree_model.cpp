#include "tree_model.h"

#include <QMimeData>
#include <QtEndian>

#include "icons.h"
#include "list_model.h"
#include "texts.h"
#include "ui/sjis_text.h"

namespace tarn::gpsend {

using addressbook::ListChange;
using addressbook::TreeSelection;

namespace {

// internalId: top-level items have 0; a folder 1, a group 2.
constexpr quintptr kTop = 0;
constexpr quintptr kFolderItem = 1;
constexpr quintptr kGroupItem = 2;

QByteArray number32(std::size_t n) {
    QByteArray bytes(4, '\0');
    qToLittleEndian<quint32>(static_cast<quint32>(n), bytes.data());
    return bytes;
}

std::optional<std::size_t> readNumber32(const QByteArray& bytes) {
    if (bytes.size() != 4) {
        return std::nullopt;
    }
    return qFromLittleEndian<quint32>(bytes.constData());
}

}  // namespace

TreeModel::TreeModel(addressbook::CTarnSendDoc& doc, addressbook::BookEditor& editor,
                     QObject* parent)
    : QAbstractItemModel(parent), m_doc(doc), m_editor(editor) {
    load();
    m_doc.addListener(this);
}

TreeModel::~TreeModel() {
    m_doc.removeListener(this);
}

TreeModel::Item TreeModel::folderItem(std::size_t index) const {
    const auto& f = m_doc.folders().at(index);
    return {ui::fromSjis(f.name), f.icon};
}

TreeModel::Item TreeModel::groupItem(std::size_t index) const {
    const auto& g = m_doc.groups().at(index);
    return {ui::fromSjis(g.name), g.icon};
}

void TreeModel::load() {
    m_folders.clear();
    m_groups.clear();
    for (std::size_t i = 0; i < m_doc.folders().size(); ++i) {
        m_folders.push_back(folderItem(i));
    }
    for (std::size_t i = 0; i < m_doc.groups().size(); ++i) {
        m_groups.push_back(groupItem(i));
    }
}

void TreeModel::rebuild() {
    m_changing = true;
    beginResetModel();
    load();
    endResetModel();
    m_changing = false;
    emit rebuilt();
}

QModelIndex TreeModel::index(int row, int column, const QModelIndex& parent) const {
    if (column != 0 || row < 0) {
        return {};
    }
    if (!parent.isValid()) {
        return row < 2 ? createIndex(row, 0, kTop) : QModelIndex();
    }
    if (parent.internalId() != kTop) {
        return {};
    }
    const auto& items = parent.row() == 0 ? m_folders : m_groups;
    return row < static_cast<int>(items.size())
               ? createIndex(row, 0, parent.row() == 0 ? kFolderItem : kGroupItem)
               : QModelIndex();
}

QModelIndex TreeModel::parent(const QModelIndex& child) const {
    if (!child.isValid() || child.internalId() == kTop) {
        return {};
    }
    return createIndex(child.internalId() == kFolderItem ? 0 : 1, 0, kTop);
}

int TreeModel::rowCount(const QModelIndex& parent) const {
    if (!parent.isValid()) {
        return 2;
    }
    if (parent.internalId() != kTop || parent.column() != 0) {
        return 0;
    }
    return static_cast<int>(parent.row() == 0 ? m_folders.size() : m_groups.size());
}

int TreeModel::columnCount(const QModelIndex& parent) const {
    (void)parent;
    return 1;
}

QVariant TreeModel::data(const QModelIndex& index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid)) {
        return {};
    }
    if (index.internalId() == kTop) {
        if (role == Qt::DisplayRole) {
            return QString::fromUtf8(index.row() == 0 ? text::kAllRecords : text::kGroups);
        }
        if (role == Qt::DecorationRole) {
            return index.row() == 0 ? allRecordsIcon() : groupsRootIcon();
        }
        return {};
    }
    const auto& items = index.internalId() == kFolderItem ? m_folders : m_groups;
    const Item& item = items.at(static_cast<std::size_t>(index.row()));
    if (role == Qt::DisplayRole) {
        return item.name;
    }
    if (role == Qt::DecorationRole) {
        return folderIcon(item.icon);
    }
    return {};
}

Qt::ItemFlags TreeModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) {
        return Qt::ItemIsDropEnabled;
    }
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDropEnabled;
    if (index.internalId() != kTop) {
        f |= Qt::ItemIsDragEnabled;
    }
    return f;
}

TreeSelection TreeModel::selectionOf(const QModelIndex& index) const {
    if (!index.isValid()) {
        return TreeSelection::all();
    }
    switch (index.internalId()) {
        case kFolderItem:
            return TreeSelection::folder(static_cast<std::size_t>(index.row()) + 1);
        case kGroupItem:
            return TreeSelection::group(static_cast<std::size_t>(index.row()));
        default:
            return index.row() == 0 ? TreeSelection::all() : TreeSelection::groupRoot();
    }
}

QModelIndex TreeModel::indexOf(const TreeSelection& selection) const {
    switch (selection.kind) {
        case TreeSelection::Kind::All:
            return allRecordsIndex();
        case TreeSelection::Kind::Folder:
            return index(static_cast<int>(selection.index) - 1, 0, allRecordsIndex());
        case TreeSelection::Kind::GroupRoot:
            return groupsIndex();
        case TreeSelection::Kind::Group:
            return index(static_cast<int>(selection.index), 0, groupsIndex());
    }
    return {};
}

// --- the document's changes

void TreeModel::documentReset() {
    rebuild();
}

void TreeModel::apply(const ListChange& change, int top, std::vector<Item>& items,
                      const Item& now) {
    const QModelIndex parentIndex = index(top, 0);
    const int at = static_cast<int>(change.index);
    switch (change.kind) {
        case ListChange::Kind::Inserted:
            m_changing = true;
            beginInsertRows(parentIndex, at, at);
            items.insert(items.begin() + at, now);
            endInsertRows();
            m_changing = false;
            break;
        case ListChange::Kind::Removed:
            m_changing = true;
            beginRemoveRows(parentIndex, at, at);
            items.erase(items.begin() + at);
            endRemoveRows();
            m_changing = false;
            break;
        case ListChange::Kind::Moved:
            rebuild();  // the items are rebuilt after a move, and "すべて" selected
            break;
        case ListChange::Kind::Edited:
            items.at(change.index) = now;
            emit dataChanged(index(at, 0, parentIndex), index(at, 0, parentIndex));
            break;
    }
}

void TreeModel::foldersChanged(const ListChange& change) {
    const bool present =
        change.kind == ListChange::Kind::Inserted || change.kind == ListChange::Kind::Edited;
    apply(change, 0, m_folders, present ? folderItem(change.index) : Item{});
}

void TreeModel::groupsChanged(const ListChange& change) {
    const bool present =
        change.kind == ListChange::Kind::Inserted || change.kind == ListChange::Kind::Edited;
    apply(change, 1, m_groups, present ? groupItem(change.index) : Item{});
}

// --- drag and drop

QStringList TreeModel::mimeTypes() const {
    return {QString::fromLatin1(kRecordFormat), QString::fromLatin1(kFolderFormat),
            QString::fromLatin1(kGroupFormat)};
}

QMimeData* TreeModel::mimeData(const QModelIndexList& indexes) const {
    if (indexes.size() != 1 || indexes[0].internalId() == kTop) {
        return nullptr;
    }
    const QModelIndex& i = indexes[0];
    auto* mime = new QMimeData;  // owned by the drag that asked for it
    if (i.internalId() == kFolderItem) {
        mime->setData(QString::fromLatin1(kFolderFormat),
                      number32(static_cast<std::size_t>(i.row()) + 1));
    } else {
        mime->setData(QString::fromLatin1(kGroupFormat),
                      number32(static_cast<std::size_t>(i.row())));
    }
    return mime;
}

Qt::DropActions TreeModel::supportedDragActions() const {
    return Qt::MoveAction;
}

Qt::DropActions TreeModel::supportedDropActions() const {
    return Qt::CopyAction | Qt::MoveAction;
}

bool TreeModel::canDropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                                const QModelIndex& parent) const {
    (void)action;
    (void)column;
    if (data == nullptr) {
        return false;
    }
    if (data->hasFormat(QString::fromLatin1(kRecordFormat))) {
        // Records go on "すべて", a folder or a group; not on the group root,
        // between items or outside any item.
        if (!parent.isValid() || row >= 0) {
            return false;
        }
        return selectionOf(parent).kind != TreeSelection::Kind::GroupRoot;
    }
    return data->hasFormat(QString::fromLatin1(kFolderFormat)) ||
           data->hasFormat(QString::fromLatin1(kGroupFormat));
}

bool TreeModel::dropRecords(const QMimeData* data, const TreeSelection& target) {
    auto records = recordsOfDrag(m_doc, *data);
    if (!records) {
        emit dropRefused(QString::fromStdString(records.error().message));
        return false;
    }
    const Status done =
        target.kind == TreeSelection::Kind::Group
            ? m_editor.dropOnGroup(*records, target.index)
            : m_editor.dropOnFolder(*records,
                                    target.kind == TreeSelection::Kind::Folder ? target.index : 0);
    if (!done) {
        emit dropRefused(QString::fromStdString(done.error().message));
    }
    return false;  // the records stay where they are in the list
}

bool TreeModel::dropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                             const QModelIndex& parent) {
    if (!canDropMimeData(data, action, row, column, parent)) {
        return false;
    }
    if (data->hasFormat(QString::fromLatin1(kRecordFormat))) {
        return dropRecords(data, selectionOf(parent));
    }
    // A folder on a folder item goes just before it (between folder items:
    // before the one below); anywhere else it goes to the end. The same for groups.
    const bool folder = data->hasFormat(QString::fromLatin1(kFolderFormat));
    const auto dragged =
        readNumber32(data->data(QString::fromLatin1(folder ? kFolderFormat : kGroupFormat)));
    if (!dragged) {
        return false;
    }
    const quintptr kind = folder ? kFolderItem : kGroupItem;
    const int top = folder ? 0 : 1;
    std::size_t before = folder ? m_doc.folders().size() + 1 : m_doc.groups().size();
    if (parent.isValid() && parent.internalId() == kind) {
        before = static_cast<std::size_t>(parent.row()) + (folder ? 1 : 0);
    } else if (parent.isValid() && parent.internalId() == kTop && parent.row() == top && row >= 0) {
        before = static_cast<std::size_t>(row) + (folder ? 1 : 0);
    }
    const Status moved =
        folder ? m_editor.moveFolder(*dragged, before) : m_editor.moveGroup(*dragged, before);
    if (!moved) {
        emit dropRefused(QString::fromStdString(moved.error().message));
    }
    return false;
}

}  // namespace tarn::gpsend
