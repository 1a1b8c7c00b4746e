#pragma once
#include <QFont>
#include <QStyledItemDelegate>

// A row delegate whose path line the user can select and copy: the view's edit trigger (a
// double click) opens a read-only field over that line, holding the item's edit text selected.
// Nothing is ever written back.
class PathLineDelegate : public QStyledItemDelegate {
public:
    PathLineDelegate(const QFont& font, const QString& fieldName, QObject* parent);

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    void setEditorData(QWidget* editor, const QModelIndex& index) const override;
    void setModelData(QWidget*, QAbstractItemModel*, const QModelIndex&) const override {}
    void updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option, const QModelIndex& index) const override;

protected:
    // Where the row's path line is drawn within the row's rectangle; empty when it has none.
    virtual QRect pathLine(const QRect& row, const QModelIndex& index) const = 0;

private:
    QFont font_;
    QString fieldName_;
};
