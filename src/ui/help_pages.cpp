#include "ui/help_pages.h"

#include <QDir>
#include <QFileInfo>

namespace quillfin::ui {

QUrl HelpTopicUrl(const std::vector<std::string>& folders, const QString& topic) {
    for (const std::string& folder : folders) {
        if (folder.empty()) continue;
        const QString path =
            QDir(QString::fromStdString(folder))
                .filePath(QString::fromLatin1(kHelpFolder) + u'/' + QString::fromLatin1(kHelpPage));
        if (!QFileInfo(path).isFile()) continue;
        QUrl url = QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath());
        if (!topic.isEmpty()) url.setFragment(topic);
        return url;
    }
    return {};
}

}  // namespace quillfin::ui
