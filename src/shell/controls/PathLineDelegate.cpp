#include "shell/controls/PathLineDelegate.h"

#include <QLineEdit>

PathLineDelegate::PathLineDelegate(const QFont& font, const QString& fieldName, QObject* parent)
    : QStyledItemDelegate(parent), font_(font), fieldName_(fieldName)
{
}

QWidget* PathLineDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem&, const QModelIndex&) const
{
    auto* field = new QLineEdit(parent);
    field->setObjectName(fieldName_);
    field->setReadOnly(true);
    field->setFont(font_);
    return field;
}

void PathLineDelegate::setEditorData(QWidget* editor, const QModelIndex& index) const
{
    auto* field = static_cast<QLineEdit*>(editor);
    field->setText(index.data(Qt::EditRole).toString());
    field->selectAll();
}

void PathLineDelegate::updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option,
                                            const QModelIndex& index) const
{
    QRect line = pathLine(option.rect, index);
    if (line.isEmpty()) return;
    // A little wider and taller than the line, so the field's frame does not cover the text.
    int height = std::max(line.height() + 6, editor->sizeHint().height());
    editor->setGeometry(line.left() - 3, line.center().y() - height / 2, line.width() + 6, height);
}
