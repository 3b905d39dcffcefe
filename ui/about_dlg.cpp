#include "ui/about_dlg.h"

#include "ui_about_dlg.h"

namespace tandril {

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent), m_ui(std::make_unique<Ui::CAboutDlg>()) {
    m_ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    m_ui->m_icon->setPixmap(QIcon(":/tandril.png").pixmap(48, 48));
}

CAboutDlg::~CAboutDlg() = default;

}  // namespace tandril
