// The tree as an item model: "すべて" with the folders, "グループ" with the
// groups. It mirrors the names and icons it shows, so that each change the
// document reports can be told to the view before and after it is applied.
// Folders and groups are dragged by number ("TarnFolderFormat",
// "TarnGroupFormat", one 32-bit value); records dropped on an item go to the
// core's editing commands.
#pragma once

#include <QAbstractItemModel>

#include <vector>

#include "addressbook/book_editor.h"
#include "addressbook/document_listener.h"

namespace tarn::gpsend {

class TreeModel final : public QAbstractItemModel, private addressbook::DocumentListener {
    Q_OBJECT

public:
    TreeModel(addressbook::CTarnSendDoc& doc, addressbook::BookEditor& editor,
              QObject* parent = nullptr);
    ~TreeModel() override;

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    QStringList mimeTypes() const override;
    QMimeData* mimeData(const QModelIndexList& indexes) const override;
    Qt::DropActions supportedDragActions() const override;
    Qt::DropActions supportedDropActions() const override;
    bool canDropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                         const QModelIndex& parent) const override;
    bool dropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                      const QModelIndex& parent) override;

    // What an item selects, and the item of a selection.
    addressbook::TreeSelection selectionOf(const QModelIndex& index) const;
    QModelIndex indexOf(const addressbook::TreeSelection& selection) const;
    QModelIndex allRecordsIndex() const { return index(0, 0); }
    QModelIndex groupsIndex() const { return index(1, 0); }
    // True while rows are being inserted, removed or rebuilt: a current-item
    // change the view makes meanwhile is not the person's choice.
    bool changing() const { return m_changing; }

signals:
    // The items were rebuilt (new or opened document, a folder or group moved).
    void rebuilt();
    void dropRefused(const QString& message);

private:
    struct Item {
        QString name;
        int icon = 0;
    };

    // DocumentListener
    void documentReset() override;
    void foldersChanged(const addressbook::ListChange& change) override;
    void groupsChanged(const addressbook::ListChange& change) override;

    void load();
    void rebuild();
    void apply(const addressbook::ListChange& change, int top, std::vector<Item>& items,
               const Item& now);
    Item folderItem(std::size_t index) const;
    Item groupItem(std::size_t index) const;
    bool dropRecords(const QMimeData* data, const addressbook::TreeSelection& target);

    addressbook::CTarnSendDoc& m_doc;
    addressbook::BookEditor& m_editor;
    std::vector<Item> m_folders;
    std::vector<Item> m_groups;
    bool m_changing = false;
};

}  // namespace tarn::gpsend
