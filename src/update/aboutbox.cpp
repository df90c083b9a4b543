#include "update/aboutbox.h"

#include <QGridLayout>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QTabWidget>
#include <QTextEdit>

AboutBox::AboutBox(QWidget *parent)
    : QDialog(parent)
{
    setWindowTitle(tr("About"));

    // Object names follow the members so that the pages can be found from outside (tests,
    // style sheets).
    aboutPage = createImagePage(QStringLiteral("about"), aboutLogo, aboutText);
    helpPage = createImagePage(QStringLiteral("help"), helpLogo, helpText);

    licensePage = new QTextEdit;
    licensePage->setObjectName(QStringLiteral("licensePage"));
    licensePage->setFontFamily(QStringLiteral("Sans Serif"));
    licensePage->setReadOnly(true);

    thanksPage = createImagePage(QStringLiteral("thanks"), thanksLogo, thanksText);
    updatePage = createImagePage(QStringLiteral("update"), updateLogo, updateText);

    tabWidget = new QTabWidget;
    tabWidget->setObjectName(QStringLiteral("tabWidget"));
    tabWidget->setTabPosition(QTabWidget::East);
    setTabs(AboutTab | HelpTab | LicenseTab | ThanksTab | UpdatesTab);

    auto *okButton = new QPushButton(tr("OK"));
    okButton->setObjectName(QStringLiteral("okButton"));
    connect(okButton, &QPushButton::clicked, this, &AboutBox::accept);

    auto *layout = new QGridLayout(this);
    layout->addWidget(tabWidget, 0, 0);
    layout->addWidget(okButton, 1, 0, Qt::AlignRight);

    setMinimumHeight(500);
}

QWidget *AboutBox::createImagePage(const QString &name, QLabel *&logo, QLabel *&text)
{
    auto *page = new QWidget;
    page->setObjectName(name + QLatin1String("Page"));

    logo = new QLabel;
    logo->setObjectName(name + QLatin1String("Logo"));
    logo->setAlignment(Qt::AlignTop);
    logo->setAccessibleName(tr("Pylon Router"));

    text = new QLabel;
    text->setObjectName(name + QLatin1String("Text"));
    text->setTextFormat(Qt::RichText);
    text->setWordWrap(true);
    text->setOpenExternalLinks(true);
    // Tab reaches the links (the update offer's among them), Enter follows one.
    text->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    text->setAlignment(Qt::AlignTop | Qt::AlignLeft);

    auto *layout = new QGridLayout(page);
    layout->addWidget(logo, 0, 0);
    layout->addWidget(text, 1, 0);
    // The text follows the image; the room left over goes below the text.
    layout->setRowStretch(1, 1);
    return page;
}

void AboutBox::setTabs(int flags)
{
    // QTabWidget::clear() only takes the pages out of the stack; they stay children of it and
    // keep what was set on them.
    tabWidget->clear();
    if (flags & AboutTab)
        tabWidget->addTab(aboutPage, tr("About"));
    if (flags & HelpTab)
        tabWidget->addTab(helpPage, tr("Help"));
    if (flags & LicenseTab)
        tabWidget->addTab(licensePage, tr("License"));
    if (flags & ThanksTab)
        tabWidget->addTab(thanksPage, tr("Thanks"));
    if (flags & UpdatesTab)
        tabWidget->addTab(updatePage, tr("Updates"));
}

void AboutBox::setAboutPixmap(const QPixmap &pixmap)
{
    aboutLogo->setPixmap(pixmap);
}

void AboutBox::setHelpPixmap(const QPixmap &pixmap)
{
    helpLogo->setPixmap(pixmap);
}

void AboutBox::setThanksPixmap(const QPixmap &pixmap)
{
    thanksLogo->setPixmap(pixmap);
}

void AboutBox::setUpdatePixmap(const QPixmap &pixmap)
{
    updateLogo->setPixmap(pixmap);
}

void AboutBox::setAboutText(const QString &text)
{
    aboutText->setText(text);
}

void AboutBox::setHelpText(const QString &text)
{
    helpText->setText(text);
}

void AboutBox::setThanksText(const QString &text)
{
    thanksText->setText(text);
}

void AboutBox::setUpdateText(const QString &text)
{
    updateText->setText(text);
}

void AboutBox::setLicenseHtml(const QString &html)
{
    licensePage->setHtml(html);
}

void AboutBox::setActive(QWidget *page)
{
    const int index = tabWidget->indexOf(page);
    if (index >= 0)
        tabWidget->setCurrentIndex(index);
}

void AboutBox::setActiveAbout()
{
    setActive(aboutPage);
}

void AboutBox::setActiveHelp()
{
    setActive(helpPage);
}

void AboutBox::setActiveLicense()
{
    setActive(licensePage);
}

void AboutBox::setActiveThanks()
{
    setActive(thanksPage);
}

void AboutBox::setActiveUpdate()
{
    setActive(updatePage);
}
