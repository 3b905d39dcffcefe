#include "ui/options_dlg.h"

#include <QCheckBox>
#include <QLineEdit>

#include "engine/messages.h"
#include "engine/mirror_job.h"
#include "platform/message.h"
#include "ui/option_number.h"
#include "ui_options_dlg.h"

namespace tandril {

COptionsDlg::COptionsDlg(CMirrorLimits& limits, QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::COptionsDlg>()), m_limits(limits) {
    m_ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    m_nEditLevels = limits.m_nMaxLevels;
    m_nEditFiles = limits.m_nMaxFiles;
    m_nEditMegaBytes = limits.m_nMaxMegaBytes;
    m_nEditConnections = limits.m_nMaxConnections;
    m_ui->m_editLevels->setText(QString::number(m_nEditLevels));
    m_ui->m_editFiles->setText(QString::number(m_nEditFiles));
    m_ui->m_editMegaBytes->setText(QString::number(m_nEditMegaBytes));
    m_ui->m_editConnections->setText(QString::number(m_nEditConnections));
    m_ui->m_chkRelative->setChecked(limits.m_bRelativeLinks);
    m_ui->m_chkOffsite->setChecked(limits.m_bOffsiteEmbedded);
    m_ui->m_editCookies->setText(QString::fromStdString(limits.m_strCookiesFile));
}

COptionsDlg::~COptionsDlg() = default;

QLineEdit* COptionsDlg::LevelsField() const {
    return m_ui->m_editLevels;
}
QLineEdit* COptionsDlg::FilesField() const {
    return m_ui->m_editFiles;
}
QLineEdit* COptionsDlg::MegaBytesField() const {
    return m_ui->m_editMegaBytes;
}
QLineEdit* COptionsDlg::ConnectionsField() const {
    return m_ui->m_editConnections;
}
QCheckBox* COptionsDlg::RelativeLinksBox() const {
    return m_ui->m_chkRelative;
}
QCheckBox* COptionsDlg::OffsiteEmbeddedBox() const {
    return m_ui->m_chkOffsite;
}
QLineEdit* COptionsDlg::CookiesField() const {
    return m_ui->m_editCookies;
}

bool COptionsDlg::CheckField(QLineEdit* field, std::uint32_t minimum, std::uint32_t maximum,
                             std::uint32_t& value) {
    std::optional<std::uint32_t> number = ParseOptionNumber(field->text().toStdString());
    std::string message;
    if (!number) {
        message = "Please enter a positive integer.";
    } else {
        value = *number;
        if (value >= minimum && value <= maximum) {
            return true;
        }
        message = "Please enter an integer between " + std::to_string(minimum) + " and " +
                  std::to_string(maximum) + ".";
    }
    ShowMessageBox(ProgramTitle(), message, MessageIcon::Warning);
    field->setFocus();
    field->selectAll();
    return false;
}

void COptionsDlg::accept() {
    if (!CheckField(m_ui->m_editFiles, 1, 10000, m_nEditFiles) ||
        !CheckField(m_ui->m_editLevels, 0, 1000, m_nEditLevels) ||
        !CheckField(m_ui->m_editMegaBytes, 1, 2048, m_nEditMegaBytes) ||
        !CheckField(m_ui->m_editConnections, 1, 16, m_nEditConnections)) {
        return;
    }
    m_limits.m_nMaxLevels = m_nEditLevels;
    m_limits.m_nMaxFiles = m_nEditFiles;
    m_limits.m_nMaxMegaBytes = m_nEditMegaBytes;
    m_limits.m_nMaxConnections = m_nEditConnections;
    m_limits.m_bRelativeLinks = m_ui->m_chkRelative->isChecked();
    m_limits.m_bOffsiteEmbedded = m_ui->m_chkOffsite->isChecked();
    m_limits.m_strCookiesFile = m_ui->m_editCookies->text().trimmed().toStdString();
    QDialog::accept();
}

}  // namespace tandril
