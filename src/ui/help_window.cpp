#include "ui/help_window.h"

#include <QTextBrowser>
#include <QVBoxLayout>

#include "ui/class_icons.h"
#include "ui/control_name.h"

namespace quillfin::ui {

HelpWindow::HelpWindow(QWidget* parent) : QWidget(parent, Qt::Window), browser_(new QTextBrowser) {
    NameControl(this, "frmHelp", QStringLiteral("Quillfin Help"));
    setWindowTitle(QStringLiteral("Quillfin Help"));
    setWindowIcon(AppIcon());
    NameControl(browser_, "txtHelp", QStringLiteral("Help text"));
    // Links within the page stay here; links to the web go to the desktop, as ever.
    browser_->setOpenExternalLinks(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(browser_);
    resize(640, 560);
}

void HelpWindow::ShowTopic(const QUrl& url) {
    // Shown first: the scroll to the section needs the page laid out at its size.
    show();
    raise();
    activateWindow();
    QUrl page = url;
    page.setFragment({});
    if (browser_->source() != page) browser_->setSource(page);
    if (url.hasFragment()) browser_->scrollToAnchor(url.fragment());
}

}  // namespace quillfin::ui
