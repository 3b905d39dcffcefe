#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class COptionsDlg;
}

class QCheckBox;
class QLineEdit;
class QPlainTextEdit;

#include <string>
#include <vector>

#include <QString>

namespace tandril {

struct CMirrorLimits;

// Patterns as the multi-line fields show them (one a line) and back (lines trimmed,
// empty ones dropped).
QString JoinPatterns(const std::vector<std::string>& patterns);
std::vector<std::string> SplitPatterns(const QString& text);

// The Options dialog: edits the limits of a run, the portable-copy choice and whether
// embedded files of other sites are fetched.
// Reads them from `limits` when it opens and writes them back only when OK passes
// every check.
class COptionsDlg : public QDialog {
    Q_OBJECT

public:
    COptionsDlg(CMirrorLimits& limits, QWidget* parent);
    ~COptionsDlg() override;

    QLineEdit* LevelsField() const;
    QLineEdit* FilesField() const;
    QLineEdit* MegaBytesField() const;
    QLineEdit* ConnectionsField() const;
    QLineEdit* PauseField() const;
    QCheckBox* RelativeLinksBox() const;
    QCheckBox* OffsiteEmbeddedBox() const;
    QLineEdit* CookiesField() const;
    QCheckBox* RobotsBox() const;
    QCheckBox* NoParentBox() const;
    QPlainTextEdit* SkipField() const;
    QPlainTextEdit* FollowField() const;

public slots:
    void accept() override;

private:
    bool CheckField(QLineEdit* field, std::uint32_t minimum, std::uint32_t maximum,
                    std::uint32_t& value);

    std::unique_ptr<Ui::COptionsDlg> m_ui;
    CMirrorLimits& m_limits;
    std::uint32_t m_nEditFiles = 0;
    std::uint32_t m_nEditLevels = 0;
    std::uint32_t m_nEditMegaBytes = 0;
    std::uint32_t m_nEditConnections = 0;
    std::uint32_t m_nEditPause = 0;
};

}  // namespace tandril
