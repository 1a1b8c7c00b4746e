#include "shell/window/PageDestinations.h"

namespace Pages {

const std::vector<PageDestination>& destinations()
{
    static const std::vector<PageDestination> table{
        {overview, QStringLiteral("square.grid.2x2"), QStringLiteral("你的 Mac，井然有序。")},
        {memory, QStringLiteral("memorychip"), QStringLiteral("查看内存压力与应用占用。")},
        {files, QStringLiteral("folder"), QStringLiteral("选择文件夹，查看结果，再检查所选文件。")},
        {maintenance, QStringLiteral("app.badge"), QStringLiteral("检查应用和缓存，确认后再处理。")},
        {history, QStringLiteral("clock.arrow.circlepath"),
         QStringLiteral("查看处理结果，恢复移入废纸篓的文件。记录只保存在本机。")},
        {settings, QStringLiteral("gearshape"), QStringLiteral("管理Tessyn的偏好与本地记录。")},
    };
    return table;
}

QString subtitle(const QString& page)
{
    const auto& table = destinations();
    for (size_t i = 1; i < table.size(); ++i)
        if (table[i].title == page) return table[i].subtitle;
    return table.front().subtitle;
}

int position(const QString& page)
{
    const auto& table = destinations();
    for (size_t i = 0; i < table.size(); ++i)
        if (table[i].title == page) return static_cast<int>(i) + 1;
    return 1;
}

QString shortcutHint(const QString& page)
{
    return page + QStringLiteral(" · Ctrl+") + QString::number(position(page));
}

} // namespace Pages
