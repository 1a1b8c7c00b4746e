#include "shell/ModelServices.h"

#include "shell/LocalizedText.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QUrl>

namespace ModelServices {

AppModel::Collaborators collaborators()
{
    AppModel::Collaborators services;
    services.chooseFolder = chooseFolder;
    services.preview = preview;
    return services;
}

std::optional<std::string> chooseFolder()
{
    QFileDialog dialog(QApplication::activeWindow());
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setOption(QFileDialog::ShowDirsOnly, true);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setDirectory(QDir::homePath());
    dialog.setWindowTitle(L(QStringLiteral("只扫描你选择的目录；不会自动删除文件。")));
    dialog.setLabelText(QFileDialog::Accept, L(QStringLiteral("选择扫描目录")));
    dialog.setLabelText(QFileDialog::Reject, L(QStringLiteral("取消")));
    dialog.setWindowModality(Qt::ApplicationModal);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty() || chosen.front().isEmpty()) return std::nullopt;
    return QFile::encodeName(chosen.front()).toStdString();
}

std::optional<std::string> preview(const std::string& path)
{
    QUrl url = QUrl::fromLocalFile(QFile::decodeName(QByteArray::fromStdString(path)));
    if (QDesktopServices::openUrl(url)) return std::nullopt;
    return "无法打开预览。";
}

} // namespace ModelServices
