#pragma once

#include <QDialog>
#include <QUrl>

#include <functional>
#include <memory>
#include <string>

namespace Ui {
class CMainDlg;
}

class QComboBox;

namespace tandril {

class CMirrorJob;

// The program's only top-level window: start URL and download directory with their
// histories, the link choice, Options, About, Mirror and Browse. Loads the settings
// when constructed and saves them when destroyed. Interface thread only.
class CMainDlg : public QDialog {
    Q_OBJECT

public:
    explicit CMainDlg(CMirrorJob& job, QWidget* parent = nullptr);
    ~CMainDlg() override;

    // How "&Browse..." opens the start page; tests replace it.
    static std::function<void(const QUrl&)>& BrowseHook();
    // The download directory of the last run ("" before the first run): the only
    // place where the program's temporary files may have been left.
    const std::string& LastRunDirectory() const { return m_strLastRunDir; }
    // Puts a URL given on the command line in the URL field, as if typed there.
    void SetStartUrl(const QString& url);

public slots:
    void OnMirror();
    void OnOptions();
    void OnAbout();
    void OnBrowse();
    void OnChoose();
    void OnLinkChoice();

private:
    void LoadSettings();
    void SaveSettings();
    static void MoveToFront(QComboBox* box, bool fromList, const QString& text);
    // Says under the directory field what the chosen directory holds (the record of a
    // copy, or nothing); "Start afresh" can be ticked only where there is a record.
    void ShowCopyInfo();

    std::unique_ptr<Ui::CMainDlg> m_ui;
    CMirrorJob& m_job;
    int m_nLinkChoice = 0;
    bool m_bUrlFromList = false;
    bool m_bDirFromList = false;
    std::string m_strLastRunDir;
};

}  // namespace tandril
