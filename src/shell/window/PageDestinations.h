#pragma once
#include <QString>
#include <vector>

// The pages of the main window, in menu order. A page is identified everywhere by its
// untranslated Chinese title; the position is the digit of its Ctrl shortcut.
struct PageDestination {
    QString title;
    QString symbol;
    QString subtitle;
};

namespace Pages {
inline const QString overview = QStringLiteral("概览");
inline const QString memory = QStringLiteral("内存");
inline const QString files = QStringLiteral("文件");
inline const QString maintenance = QStringLiteral("应用与缓存");
inline const QString history = QStringLiteral("操作记录");
inline const QString settings = QStringLiteral("设置");

const std::vector<PageDestination>& destinations();
// The subtitle of a page; any identifier that is not one of the last five gets the overview's.
QString subtitle(const QString& page);
// 1-based position in the menu order; 1 for an identifier that names no page.
int position(const QString& page);
// The tooltip key of a navigation entry: the title, " · Ctrl+" and its position.
QString shortcutHint(const QString& page);
}
