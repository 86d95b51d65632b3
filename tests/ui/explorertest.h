#pragma once

#include "ui/explorer.h"
#include "ui/filelistmodel.h"

#include <QStringList>
#include <QTreeWidget>

namespace mr::test {

// The names of the rows of an explorer's list, sorted.
inline QStringList rowNames(const TfrmExplorer& form) {
    QStringList names;
    const FileListModel& model = *form.fileList();
    for (int i = 0; i < model.rowCount(); ++i)
        names << model.index(i, 0).data().toString();
    names.sort();
    return names;
}

inline QModelIndex rowNamed(const TfrmExplorer& form, const QString& name, int column = 0) {
    const FileListModel& model = *form.fileList();
    for (int i = 0; i < model.rowCount(); ++i) {
        if (model.index(i, 0).data().toString() == name)
            return model.index(i, column);
    }
    return {};
}

inline QString cell(const TfrmExplorer& form, const QString& name, int column) {
    const QModelIndex index = rowNamed(form, name, column);
    return index.isValid() ? index.data().toString() : QStringLiteral("<missing>");
}

// The names of the children of the folder selected in the tree, sorted.
inline QStringList treeChildren(const TfrmExplorer& form) {
    QStringList names;
    const QTreeWidgetItem* current = form.folderTree()->currentItem();
    for (int i = 0; current && i < current->childCount(); ++i)
        names << current->child(i)->text(0);
    names.sort();
    return names;
}

}  // namespace mr::test
