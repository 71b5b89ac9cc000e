#pragma once

#include "app/AppIcon.h"

#include <QDialog>

class QPushButton;
class QLabel;

namespace klangor {

class IShellServices;

// The maker's home page, opened from the About box and the main window's home-page area.
inline constexpr const char *kHomePageUrl = "https://vellumar.example/klangor";

// "About Klangor": the icon, the product title and version, a notice line, OK and "Goto Home Page".
// Window thread only.
class AboutDialog : public QDialog {
    Q_OBJECT
public:
    AboutDialog(IShellServices &shell, QWidget *pParent);

    QString VersionText() const;

private:
    void OnGotoHomePage();

    IShellServices &m_shell;
    QLabel *m_pVersion = nullptr;
    QPushButton *m_pHomePage = nullptr;
};

}  // namespace klangor
