#pragma once

#include <QDialog>

class QLabel;
class QPixmap;
class QTabWidget;
class QTextEdit;

// The tabbed about dialog: About, Help, License, Thanks and Updates pages, of which the owner
// shows a chosen set. Pages left out stay alive with their content, so the owner can fill them
// at any time and show them later.
class AboutBox final : public QDialog
{
    Q_OBJECT

public:
    // Pages for setTabs(), combined by bitwise OR.
    enum TabFlag {
        AboutTab = 1,
        HelpTab = 2,
        LicenseTab = 4,
        ThanksTab = 8,
        UpdatesTab = 16,
    };
    Q_ENUM(TabFlag)

    explicit AboutBox(QWidget *parent = nullptr);
    Q_DISABLE_COPY_MOVE(AboutBox)

    // Shows exactly the pages whose flags are set, always in the order About, Help, License,
    // Thanks, Updates.
    void setTabs(int flags);

    void setAboutPixmap(const QPixmap &pixmap);
    void setHelpPixmap(const QPixmap &pixmap);
    void setThanksPixmap(const QPixmap &pixmap);
    void setUpdatePixmap(const QPixmap &pixmap);
    void setAboutText(const QString &text);
    void setHelpText(const QString &text);
    void setThanksText(const QString &text);
    void setUpdateText(const QString &text);
    void setLicenseHtml(const QString &html);

public slots:
    // Each makes its page the current tab; a page that is not shown leaves the current tab as
    // it is.
    void setActiveAbout();
    void setActiveHelp();
    void setActiveLicense();
    void setActiveThanks();
    void setActiveUpdate();

private:
    // A page with an image above a rich-text label that opens its links in the browser.
    static QWidget *createImagePage(const QString &name, QLabel *&logo, QLabel *&text);
    void setActive(QWidget *page);

    QTabWidget *tabWidget = nullptr;
    QWidget *aboutPage = nullptr;
    QLabel *aboutLogo = nullptr;
    QLabel *aboutText = nullptr;
    QWidget *helpPage = nullptr;
    QLabel *helpLogo = nullptr;
    QLabel *helpText = nullptr;
    QTextEdit *licensePage = nullptr;
    QWidget *thanksPage = nullptr;
    QLabel *thanksLogo = nullptr;
    QLabel *thanksText = nullptr;
    QWidget *updatePage = nullptr;
    QLabel *updateLogo = nullptr;
    QLabel *updateText = nullptr;
};
