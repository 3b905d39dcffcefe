#include "ui/main_dlg.h"

#include <QAbstractItemView>

#include <QDateTime>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QLocale>

#include "engine/copy_record.h"
#include "engine/messages.h"
#include "engine/mirror_job.h"
#include "engine/mirroring_dlg.h"
#include "resources/string_table.h"
#include "ui/about_dlg.h"
#include "ui/options_dlg.h"
#include "ui/settings_store.h"
#include "ui_main_dlg.h"

namespace tandril {
namespace {

QString FromEngine(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<int>(text.size()));
}

std::string ToEngine(const QString& text) {
    return text.toUtf8().toStdString();
}

CSettingsStore Store() {
    return CSettingsStore("Orvello", "Tandril");
}

}  // namespace

std::function<void(const QUrl&)>& CMainDlg::BrowseHook() {
    static std::function<void(const QUrl&)> hook = [](const QUrl& url) {
        QDesktopServices::openUrl(url);
    };
    return hook;
}

CMainDlg::CMainDlg(CMirrorJob& job, QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::CMainDlg>()), m_job(job) {
    m_ui->setupUi(this);
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    std::string title;
    if (LoadString(kIdsProgramTitle, title)) {
        setWindowTitle(FromEngine(title));
    }
    setWindowIcon(QIcon(":/tandril.png"));

    connect(m_ui->m_btnMirror, &QPushButton::clicked, this, &CMainDlg::OnMirror);
    connect(m_ui->m_btnOptions, &QPushButton::clicked, this, &CMainDlg::OnOptions);
    connect(m_ui->m_btnAbout, &QPushButton::clicked, this, &CMainDlg::OnAbout);
    connect(m_ui->m_btnBrowse, &QPushButton::clicked, this, &CMainDlg::OnBrowse);
    connect(m_ui->m_btnChoose, &QPushButton::clicked, this, &CMainDlg::OnChoose);
    connect(m_ui->m_btnExit, &QPushButton::clicked, this, &CMainDlg::reject);
    connect(m_ui->m_rbModify, &QRadioButton::clicked, this, &CMainDlg::OnLinkChoice);
    connect(m_ui->m_rbCopy, &QRadioButton::clicked, this, &CMainDlg::OnLinkChoice);

    // Whether a field's text was chosen from its drop-down list, or typed since. Only
    // the list's own choice counts: the field also "activates" an entry when typed
    // text that equals it is confirmed with Enter, and such a URL is added again.
    connect(m_ui->m_cbUrl->view(), &QAbstractItemView::activated, this,
            [this] { m_bUrlFromList = true; });
    connect(m_ui->m_cbUrl->view(), &QAbstractItemView::pressed, this,
            [this] { m_bUrlFromList = true; });
    connect(m_ui->m_cbUrl->lineEdit(), &QLineEdit::textEdited, this,
            [this] { m_bUrlFromList = false; });
    connect(m_ui->m_cbDirectory->view(), &QAbstractItemView::activated, this,
            [this] { m_bDirFromList = true; });
    connect(m_ui->m_cbDirectory->view(), &QAbstractItemView::pressed, this,
            [this] { m_bDirFromList = true; });
    connect(m_ui->m_cbDirectory->lineEdit(), &QLineEdit::textEdited, this,
            [this] { m_bDirFromList = false; });

    connect(m_ui->m_cbDirectory, &QComboBox::editTextChanged, this, &CMainDlg::ShowCopyInfo);
    connect(m_ui->m_cbDirectory, &QComboBox::currentIndexChanged, this, &CMainDlg::ShowCopyInfo);

    LoadSettings();
    ShowCopyInfo();
    m_ui->m_btnMirror->setFocus();
}

void CMainDlg::SetStartUrl(const QString& url) {
    m_ui->m_cbUrl->setEditText(url.trimmed());
    m_bUrlFromList = false;
}

void CMainDlg::ShowCopyInfo() {
    const QString text = m_ui->m_cbDirectory->currentText().trimmed();
    CopyInfo info;
    if (!text.isEmpty()) {
        QString dir = QDir(text).absolutePath();
        if (!dir.endsWith('/'))
            dir += '/';
        info = ReadCopyInfo(ToEngine(dir));
    }
    QString line;
    const QString url = FromEngine(info.startUrl);
    const QString files = QString::number(info.files);
    switch (info.kind) {
        case CopyInfo::Kind::None:
            break;
        case CopyInfo::Kind::Finished:
            line = tr("Copy of %1, %2 files, finished %3")
                       .arg(url, files,
                            QLocale().toString(QDateTime::fromSecsSinceEpoch(info.finishedTime),
                                               QLocale::ShortFormat));
            break;
        case CopyInfo::Kind::Unfinished:
            line = tr("Copy of %1, %2 files, unfinished").arg(url, files);
            break;
        case CopyInfo::Kind::Damaged:
            line = tr("The record of the copy in this directory cannot be read.");
            break;
        case CopyInfo::Kind::Newer:
            line = tr("The record of the copy in this directory is from a newer Tandril.");
            break;
    }
    m_ui->m_lblCopy->setText(line);
    m_ui->m_chkAfresh->setEnabled(info.kind != CopyInfo::Kind::None);
    if (info.kind == CopyInfo::Kind::None)
        m_ui->m_chkAfresh->setChecked(false);
}

CMainDlg::~CMainDlg() {
    SaveSettings();
}

void CMainDlg::LoadSettings() {
    CSettingsStore store = Store();
    const struct {
        QComboBox* box;
        const char* section;
        bool* fromList;
    } histories[] = {{m_ui->m_cbUrl, "URL", &m_bUrlFromList},
                     {m_ui->m_cbDirectory, "Path", &m_bDirFromList}};
    for (const auto& h : histories) {
        QStringList entries = store.ReadHistory(h.section);
        h.box->addItems(entries);
        h.box->setCurrentIndex(entries.isEmpty() ? -1 : 0);
        *h.fromList = !entries.isEmpty();
    }
    bool copyOnly = store.ReadInt("Options", "Modify Link", 0) != 0;
    m_nLinkChoice = copyOnly ? 1 : 0;
    m_job.m_limits.m_bModifyLinks = !copyOnly;
    (copyOnly ? m_ui->m_rbCopy : m_ui->m_rbModify)->setChecked(true);
    m_job.m_limits.m_nMaxLevels = store.ReadInt("Options", "Max Level", 1);
    m_job.m_limits.m_nMaxFiles = store.ReadInt("Options", "Max File", 200);
    m_job.m_limits.m_nMaxMegaBytes = store.ReadInt("Options", "Max MB", 5);
    m_job.m_limits.m_bRelativeLinks = store.ReadInt("Options", "Relative Links", 0) == 1;
    m_job.m_limits.m_bOffsiteEmbedded = store.ReadInt("Options", "Offsite Embedded", 1) != 0;
    m_job.m_limits.m_strCookiesFile = ToEngine(store.ReadString("Options", "Cookies File", {}));
    m_job.m_limits.m_bObeyRobots = store.ReadInt("Options", "Obey Robots", 1) != 0;
    const std::uint32_t pause = store.ReadInt("Options", "Pause", 0);
    m_job.m_limits.m_nPauseMs = pause <= 60000 ? pause : 0;
    m_job.m_limits.m_bNoParent = store.ReadInt("Options", "No Parent", 0) == 1;
    m_job.m_limits.m_skipPatterns = SplitPatterns(store.ReadString("Options", "Skip Patterns", {}));
    m_job.m_limits.m_followPatterns =
        SplitPatterns(store.ReadString("Options", "Follow Patterns", {}));
    // A value outside 1..16 typed by hand: the first start's.
    const std::uint32_t connections = store.ReadInt("Options", "Max Connections", 6);
    m_job.m_limits.m_nMaxConnections = connections >= 1 && connections <= 16 ? connections : 6;
}

void CMainDlg::SaveSettings() {
    CSettingsStore store = Store();
    const struct {
        QComboBox* box;
        const char* section;
        bool fromList;
    } histories[] = {{m_ui->m_cbUrl, "URL", m_bUrlFromList},
                     {m_ui->m_cbDirectory, "Path", m_bDirFromList}};
    for (const auto& h : histories) {
        QString text = h.box->currentText();
        if (h.fromList || !text.isEmpty()) {
            MoveToFront(h.box, h.fromList, text);
        }
        QStringList entries;
        for (int i = 0; i < h.box->count(); ++i)
            entries << h.box->itemText(i);
        store.WriteHistory(h.section, entries);
    }
    OnLinkChoice();
    store.WriteInt("Options", "Modify Link", static_cast<std::uint32_t>(m_nLinkChoice));
    store.WriteInt("Options", "Max Level", m_job.m_limits.m_nMaxLevels);
    store.WriteInt("Options", "Max File", m_job.m_limits.m_nMaxFiles);
    store.WriteInt("Options", "Max MB", m_job.m_limits.m_nMaxMegaBytes);
    store.WriteInt("Options", "Relative Links", m_job.m_limits.m_bRelativeLinks ? 1 : 0);
    store.WriteInt("Options", "Offsite Embedded", m_job.m_limits.m_bOffsiteEmbedded ? 1 : 0);
    store.WriteString("Options", "Cookies File", FromEngine(m_job.m_limits.m_strCookiesFile));
    store.WriteInt("Options", "Obey Robots", m_job.m_limits.m_bObeyRobots ? 1 : 0);
    store.WriteInt("Options", "Pause", m_job.m_limits.m_nPauseMs);
    store.WriteInt("Options", "No Parent", m_job.m_limits.m_bNoParent ? 1 : 0);
    store.WriteString("Options", "Skip Patterns", JoinPatterns(m_job.m_limits.m_skipPatterns));
    store.WriteString("Options", "Follow Patterns", JoinPatterns(m_job.m_limits.m_followPatterns));
    store.WriteInt("Options", "Max Connections", m_job.m_limits.m_nMaxConnections);
}

void CMainDlg::MoveToFront(QComboBox* box, bool fromList, const QString& text) {
    // The entry the field's text was chosen from, unless it was edited since, moves.
    const int chosen = box->currentIndex();
    if (fromList && chosen >= 0 && box->currentText() == box->itemText(chosen)) {
        box->removeItem(chosen);
    }
    box->insertItem(0, text);
    box->setCurrentIndex(0);
}

void CMainDlg::OnLinkChoice() {
    m_nLinkChoice = m_ui->m_rbModify->isChecked() ? 0 : 1;
    m_job.m_limits.m_bModifyLinks = m_nLinkChoice == 0;
}

void CMainDlg::OnMirror() {
    OnLinkChoice();
    m_job.m_strTargetDir = ToEngine(m_ui->m_cbDirectory->currentText());
    if (!m_job.CheckTargetDirectory()) {
        return;
    }
    const QString urlText = m_ui->m_cbUrl->currentText();
    m_job.m_strUrl = ToEngine(urlText);
    if (m_job.m_strUrl.empty()) {
        ShowFrameworkMessage(kIdsEnterUrl);
        return;
    }
    if (!m_job.Start(m_job.m_strUrl)) {
        ShowFrameworkMessage(kIdsUrlInvalid);
        return;
    }
    if (!m_job.CheckPatterns() || !m_job.LoadCookies()) {
        return;
    }
    MoveToFront(m_ui->m_cbUrl, m_bUrlFromList, FromEngine(m_job.m_strUrl));
    m_bUrlFromList = true;
    MoveToFront(m_ui->m_cbDirectory, m_bDirFromList, FromEngine(m_job.m_strTargetDir));
    m_bDirFromList = true;
    m_ui->m_btnBrowse->setEnabled(false);
    m_job.m_limits.m_bFirstPage = true;
    m_job.m_limits.m_strStartPage.clear();
    m_strLastRunDir = m_job.m_strTargetDir;
    m_job.m_bFreshStart = m_ui->m_chkAfresh->isChecked();
    {
        CMirroringDlg progress(m_job, this);
        progress.exec();
    }
    // A fresh start is asked for once.
    m_job.m_bFreshStart = false;
    m_ui->m_chkAfresh->setChecked(false);
    ShowCopyInfo();
    if (!m_job.m_limits.m_strStartPage.empty()) {
        m_ui->m_btnBrowse->setEnabled(true);
    }
}

void CMainDlg::OnOptions() {
    COptionsDlg options(m_job.m_limits, this);
    options.exec();
}

void CMainDlg::OnAbout() {
    CAboutDlg about(this);
    about.exec();
}

void CMainDlg::OnBrowse() {
    if (!m_job.m_limits.m_strStartPage.empty()) {
        BrowseHook()(QUrl::fromLocalFile(FromEngine(m_job.m_limits.m_strStartPage)));
    }
}

void CMainDlg::OnChoose() {
    std::string title;
    LoadString(kIdsChooseDirTitle, title);
    QString dir = QFileDialog::getExistingDirectory(this, FromEngine(title));
    if (!dir.isEmpty()) {
        m_ui->m_cbDirectory->setEditText(dir);
        m_bDirFromList = false;
    }
}

}  // namespace tandril
