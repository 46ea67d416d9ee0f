#include "HelpWindow.h"

#include "AppIcons.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QListWidget>
#include <QScreen>
#include <QSplitter>
#include <QStyle>
#include <QTextBrowser>

#include <algorithm>

// The pages are compiled into this library; a static library's resources
// must be registered by hand.
static void registerHelpPages()
{
    Q_INIT_RESOURCE(app);
}

QList<QPair<QUrl, QString>> HelpWindow::pages()
{
    return {
        {QUrl(QStringLiteral("qrc:/help/index.html")), QStringLiteral("Getting started")},
        {QUrl(QStringLiteral("qrc:/help/profiles.html")), QStringLiteral("Profiles")},
        {QUrl(QStringLiteral("qrc:/help/fetching.html")), QStringLiteral("Fetching and reviewing")},
        {QUrl(QStringLiteral("qrc:/help/rules.html")), QStringLiteral("Filter and exempted lists")},
        {QUrl(QStringLiteral("qrc:/help/emptying.html")), QStringLiteral("Emptying the Recycle Bin")},
        {QUrl(QStringLiteral("qrc:/help/unattended.html")), QStringLiteral("Screening on a timer")},
    };
}

HelpWindow::HelpWindow(QWidget *parent)
    : QWidget(parent, Qt::Window)
{
    registerHelpPages();
    setObjectName(QStringLiteral("HelpWindow"));
    setWindowTitle(QStringLiteral("Trelvik Help"));
    setAccessibleName(QStringLiteral("Trelvik Help"));
    setWindowIcon(AppIcons::appIcon());

    auto *splitter = new QSplitter(this);
    lstContents = new QListWidget(splitter);
    lstContents->setObjectName(QStringLiteral("lstContents"));
    lstContents->setAccessibleName(QStringLiteral("Contents"));
    txtPage = new QTextBrowser(splitter);
    txtPage->setObjectName(QStringLiteral("txtPage"));
    txtPage->setAccessibleName(QStringLiteral("Help Page"));
    txtPage->setOpenExternalLinks(false);
    splitter->setStretchFactor(1, 1);
    splitter->setChildrenCollapsible(false);

    for (const auto &[url, title] : pages()) {
        auto *item = new QListWidgetItem(title, lstContents);
        item->setData(Qt::UserRole, url);
    }

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(splitter);

    // Sized from the fonts in use, not in pixels: the contents list as wide
    // as its longest title, the page as wide as its longest line that cannot
    // wrap (the commands shown) or a comfortable reading width; all within
    // the screen, and the window resizes as any other.
    const QFontMetrics listFont(lstContents->font());
    int titles = 0;
    for (const auto &page : pages())
        titles = std::max(titles, listFont.horizontalAdvance(page.second));
    const int listWidth = titles + 2 * lstContents->frameWidth() + 2 * listFont.averageCharWidth()
        + style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    const QFontMetrics pageFont(txtPage->font());
    QFont code = txtPage->font();
    code.setFamily(QStringLiteral("monospace"));
    code.setStyleHint(QFont::TypeWriter);
    const QFontMetrics codeFont(code);
    const int pageWidth = std::max(72 * pageFont.averageCharWidth(), 56 * codeFont.horizontalAdvance(QLatin1Char('M')))
        + 2 * int(txtPage->document()->documentMargin()) + 2 * txtPage->frameWidth()
        + style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    lstContents->setMinimumWidth(std::min(listWidth, 16 * listFont.averageCharWidth()));
    QSize size(listWidth + splitter->handleWidth() + pageWidth + 8, 34 * pageFont.lineSpacing());
    if (const QScreen *s = screen())
        size = size.boundedTo(s->availableGeometry().size() * 0.9);
    resize(size);
    splitter->setSizes({listWidth, size.width() - listWidth});

    connect(lstContents, &QListWidget::currentItemChanged, this, [this](QListWidgetItem *item) {
        if (item && txtPage->source() != item->data(Qt::UserRole).toUrl())
            txtPage->setSource(item->data(Qt::UserRole).toUrl());
    });
    connect(txtPage, &QTextBrowser::sourceChanged, this, &HelpWindow::syncContents);
}

// Esc and Ctrl+W close the help, as in other help and document windows.
void HelpWindow::keyPressEvent(QKeyEvent *event)
{
    if (event->matches(QKeySequence::Cancel)
        || (event->key() == Qt::Key_W && event->modifiers() == Qt::ControlModifier)) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

void HelpWindow::showPage(const QUrl &url)
{
    txtPage->setSource(url);
}

QUrl HelpWindow::currentPage() const
{
    return txtPage->source();
}

void HelpWindow::syncContents(const QUrl &url)
{
    for (int i = 0; i < lstContents->count(); ++i) {
        if (lstContents->item(i)->data(Qt::UserRole).toUrl() == url) {
            const QSignalBlocker block(lstContents);
            lstContents->setCurrentRow(i);
            return;
        }
    }
}
