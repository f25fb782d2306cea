// The record list as an item model: a thin, lazy reader of the core's
// ListViewState (rows, texts, icons) that turns its row changes into the
// model's signals. Drags carry the dragged records as a record set under the
// format name "TarnRecordFormat"; a drop on the list moves rows.
#pragma once

#include <QAbstractTableModel>
#include <QPersistentModelIndex>

#include <vector>

#include "addressbook/book_editor.h"
#include "addressbook/list_view_state.h"

namespace tarn::gpsend {

inline constexpr const char* kRecordFormat = "TarnRecordFormat";
inline constexpr const char* kFolderFormat = "TarnFolderFormat";
inline constexpr const char* kGroupFormat = "TarnGroupFormat";

// The records of `doc` a drag of list rows carries, or why it no longer matches.
Result<std::vector<const addressbook::Record*>> recordsOfDrag(const addressbook::CTarnSendDoc& doc,
                                                              const QMimeData& data);

class ListModel final : public QAbstractTableModel, private addressbook::ListViewObserver {
    Q_OBJECT

public:
    ListModel(addressbook::ListViewState& state, addressbook::BookEditor& editor,
              QObject* parent = nullptr);
    ~ListModel() override;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    QStringList mimeTypes() const override;
    QMimeData* mimeData(const QModelIndexList& indexes) const override;
    Qt::DropActions supportedDragActions() const override;
    Qt::DropActions supportedDropActions() const override;
    bool canDropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                         const QModelIndex& parent) const override;
    bool dropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                      const QModelIndex& parent) override;
    // Sorting is the state's: header clicks come here.
    void sort(int column, Qt::SortOrder order) override;

    addressbook::ListViewState& state() { return m_state; }

signals:
    // The list follows another tree item (its folder was renumbered or removed).
    void treeSelectionFollowed();
    // The number of record rows may have changed.
    void countChanged();
    // A drop was refused by the core; the message is for an error box.
    void dropRefused(const QString& message);

private:
    // ListViewObserver
    void beginReset() override;
    void endReset() override;
    void beginInsertRows(std::size_t first, std::size_t count) override;
    void endInsertRows() override;
    void beginRemoveRows(std::size_t first, std::size_t count) override;
    void endRemoveRows() override;
    void beginLayoutChange() override;
    void endLayoutChange() override;
    void rowsChanged(std::size_t first, std::size_t last) override;
    void selectionFollowed() override { emit treeSelectionFollowed(); }

    addressbook::ListViewState& m_state;
    addressbook::BookEditor& m_editor;
    // During a layout change: which record each persistent index showed.
    std::vector<std::pair<QPersistentModelIndex, const addressbook::Record*>> m_persistent;
};

}  // namespace tarn::gpsend
