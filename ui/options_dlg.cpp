#include "ui/options_dlg.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPlainTextEdit>

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
    m_nEditPause = limits.m_nPauseMs;
    m_ui->m_editPause->setText(QString::number(m_nEditPause));
    m_ui->m_chkRelative->setChecked(limits.m_bRelativeLinks);
    m_ui->m_chkOffsite->setChecked(limits.m_bOffsiteEmbedded);
    m_ui->m_editCookies->setText(QString::fromStdString(limits.m_strCookiesFile));
    m_ui->m_chkRobots->setChecked(limits.m_bObeyRobots);
    m_ui->m_chkNoParent->setChecked(limits.m_bNoParent);
    m_ui->m_editSkip->setPlainText(JoinPatterns(limits.m_skipPatterns));
    m_ui->m_editFollow->setPlainText(JoinPatterns(limits.m_followPatterns));
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
QLineEdit* COptionsDlg::PauseField() const {
    return m_ui->m_editPause;
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
QCheckBox* COptionsDlg::RobotsBox() const {
    return m_ui->m_chkRobots;
}
QCheckBox* COptionsDlg::NoParentBox() const {
    return m_ui->m_chkNoParent;
}
QPlainTextEdit* COptionsDlg::SkipField() const {
    return m_ui->m_editSkip;
}
QPlainTextEdit* COptionsDlg::FollowField() const {
    return m_ui->m_editFollow;
}

QString JoinPatterns(const std::vector<std::string>& patterns) {
    QStringList lines;
    for (const std::string& pattern : patterns)
        lines << QString::fromStdString(pattern);
    return lines.join('\n');
}

std::vector<std::string> SplitPatterns(const QString& text) {
    std::vector<std::string> patterns;
    for (const QString& line : text.split('\n')) {
        const QString pattern = line.trimmed();
        if (!pattern.isEmpty())
            patterns.push_back(pattern.toStdString());
    }
    return patterns;
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
        !CheckField(m_ui->m_editConnections, 1, 16, m_nEditConnections) ||
        !CheckField(m_ui->m_editPause, 0, 60000, m_nEditPause)) {
        return;
    }
    m_limits.m_nMaxLevels = m_nEditLevels;
    m_limits.m_nMaxFiles = m_nEditFiles;
    m_limits.m_nMaxMegaBytes = m_nEditMegaBytes;
    m_limits.m_nMaxConnections = m_nEditConnections;
    m_limits.m_nPauseMs = m_nEditPause;
    m_limits.m_bRelativeLinks = m_ui->m_chkRelative->isChecked();
    m_limits.m_bOffsiteEmbedded = m_ui->m_chkOffsite->isChecked();
    m_limits.m_strCookiesFile = m_ui->m_editCookies->text().trimmed().toStdString();
    m_limits.m_bObeyRobots = m_ui->m_chkRobots->isChecked();
    m_limits.m_bNoParent = m_ui->m_chkNoParent->isChecked();
    m_limits.m_skipPatterns = SplitPatterns(m_ui->m_editSkip->toPlainText());
    m_limits.m_followPatterns = SplitPatterns(m_ui->m_editFollow->toPlainText());
    QDialog::accept();
}

}  // namespace tandril
