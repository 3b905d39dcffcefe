#include <gtest/gtest.h>
#include <QAbstractItemView>
#include <QCheckBox>
#include <QProgressBar>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QRadioButton>
#include <QSet>
#include <QTest>

#include <algorithm>
#include <chrono>

#include "engine/messages.h"
#include "engine/mirror_job.h"
#include "engine/mirroring_dlg.h"
#include "engine/placement.h"
#include "tests/support/http_server.h"
#include "tests/widgets/widget_support.h"
#include "ui/about_dlg.h"
#include "ui/gui_message_box.h"
#include "ui/main_dlg.h"

namespace tandril {
namespace {

using test::Behaviour;
using test::Child;
using test::CHttpServer;
using test::CMessageRecorder;
using test::CTempDir;
using test::CTempSettings;
using test::DriveProgress;
using test::Route;

class MainDialog : public ::testing::Test {
protected:
    void SetUp() override {
        dlg = std::make_unique<CMainDlg>(job);
        dlg->show();
        CMainDlg::BrowseHook() = [this](const QUrl& url) { browsed << url; };
        server.SetPage("/index.html", "<a href=a.html>a</a><img src=i.gif>");
        server.SetPage("/a.html", "<p>a</p>");
        server.SetFile("/i.gif", "GIF89a", "image/gif");
    }
    void TearDown() override { dlg.reset(); }

    void SetFields(const QString& url, const QString& dir) {
        Child<QComboBox>(*dlg, "m_cbUrl")->setEditText(url);
        Child<QComboBox>(*dlg, "m_cbDirectory")->setEditText(dir);
    }
    QPushButton* Button(const char* name) { return Child<QPushButton>(*dlg, name); }
    QString Dir() const { return QString::fromStdString(tmp.Path() + "site"); }

    CTempSettings settings;
    CTempDir tmp;
    CHttpServer server;
    CMessageRecorder boxes;
    CMirrorJob job;
    std::unique_ptr<CMainDlg> dlg;
    QList<QUrl> browsed;
};

TEST_F(MainDialog, WholeRunLogsInOrderAndEndsWithOk) {
    SetFields(QString::fromStdString(server.Root() + "/index.html"), Dir());
    QStringList lines;
    QString button;
    auto driver = DriveProgress([&](CMirroringDlg& progress) {
        if (progress.ButtonText() != "OK")
            return false;
        lines = progress.LogLines();
        button = progress.ButtonText();
        Child<QPushButton>(progress, "m_btnCancel")->click();
        return true;
    });
    Button("m_btnMirror")->click();
    const QString root = QString::fromStdString(server.Root());
    QStringList expected = {"Opening an Internet session",
                            "Connecting to " + root + "/index.html",
                            "Reading " + root + "/index.html",
                            "Processing file index.html",
                            "Connecting to " + root + "/a.html",
                            "Reading " + root + "/a.html",
                            "Processing file a.html",
                            "Connecting to " + root + "/i.gif",
                            "Reading " + root + "/i.gif",
                            "Done!"};
    EXPECT_EQ(lines, expected);
    EXPECT_EQ(button, "OK");
    EXPECT_TRUE(boxes.Texts().empty());
    ASSERT_TRUE(Button("m_btnBrowse")->isEnabled());
    Button("m_btnBrowse")->click();
    ASSERT_EQ(browsed.size(), 1);
    EXPECT_EQ(browsed[0], QUrl::fromLocalFile(Dir() + "/index.html"));
    EXPECT_EQ(dlg->LastRunDirectory(), Dir().toStdString() + "/");
    // The trimmed URL and the normalised directory head their histories.
    EXPECT_EQ(Child<QComboBox>(*dlg, "m_cbDirectory")->itemText(0), Dir() + "/");
}

TEST_F(MainDialog, CancelDuringAStalledReadClosesAtOnce) {
    Route stall;
    stall.body = std::string(100000, 's');
    stall.behaviour = Behaviour::Stall;
    server.Set("/stall.bin", stall);
    SetFields(QString::fromStdString(server.Root() + "/stall.bin"), Dir());
    QElapsedTimer clock;
    int linesAtCancel = -1;
    auto driver = DriveProgress([&](CMirroringDlg& progress) {
        if (progress.LogLines().size() < 3)
            return false;
        linesAtCancel = static_cast<int>(progress.LogLines().size());
        clock.start();
        Child<QPushButton>(progress, "m_btnCancel")->click();
        return true;
    });
    Button("m_btnMirror")->click();
    qint64 closedAfter = clock.elapsed();
    std::printf("the progress dialog closed %lld ms after Cancel\n",
                static_cast<long long>(closedAfter));
    EXPECT_EQ(linesAtCancel, 3);
    EXPECT_LT(closedAfter, 1000);
    EXPECT_FALSE(test::FileExists(Dir().toStdString() + "/stall.bin"));
    EXPECT_FALSE(Button("m_btnBrowse")->isEnabled());
    EXPECT_TRUE(boxes.Texts().empty());
}

// Enter (Return and the keypad's Enter) ends the run as Cancel does.
TEST_F(MainDialog, EnterInTheMirroringDialogEndsTheRun) {
    Route stall;
    stall.body = std::string(100000, 's');
    stall.behaviour = Behaviour::Stall;
    server.Set("/stall.bin", stall);
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter}) {
        SetFields(QString::fromStdString(server.Root() + "/stall.bin"), Dir());
        QElapsedTimer clock;
        auto driver = DriveProgress([&](CMirroringDlg& progress) {
            if (progress.LogLines().size() < 3)
                return false;
            clock.start();
            QTest::keyClick(&progress, key,
                            key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier);
            return true;
        });
        Button("m_btnMirror")->click();  // returns when the dialog has closed
        EXPECT_LT(clock.elapsed(), 1000) << key;
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
        EXPECT_FALSE(test::FileExists(Dir().toStdString() + "/stall.bin"));
    }
}

// During a run the bar and the counters move; at the end the summary lists what could
// not be fetched (a 404, a refused connection) and offers the copy.
TEST_F(MainDialog, ProgressBarCountersAndSummary) {
    CHttpServer dead;
    const std::string deadUrl = dead.Root() + "/gone.png";
    dead.Stop();
    std::string body = "<a href=missing.html>missing</a><img src=\"" + deadUrl + "\">";
    for (int i = 0; i < 40; ++i)
        body += "<a href=p" + std::to_string(i) + ".html>p</a>";
    server.SetPage("/many.html", body);
    for (int i = 0; i < 40; ++i)
        server.SetPage("/p" + std::to_string(i) + ".html", "page");
    server.SetAnswerDelay(15);
    job.m_limits.m_nMaxLevels = 1;
    job.m_limits.m_nMaxConnections = 1;
    job.m_netOptions.retryWaitMs = 10;
    SetFields(QString::fromStdString(server.Root() + "/many.html"), Dir());
    std::vector<int> values;
    QStringList counters;
    QString title, summary, failures;
    bool browseShown = false;
    QList<QUrl> opened;
    CMirroringDlg::OpenHook() = [&opened](const QUrl& url) { opened << url; };
    auto driver = DriveProgress([&](CMirroringDlg& progress) {
        auto* bar = Child<QProgressBar>(progress, "m_progressBar");
        if (values.empty() || values.back() != bar->value())
            values.push_back(bar->value());
        if (counters.isEmpty() || counters.back() != progress.CountersText())
            counters << progress.CountersText();
        if (progress.SummaryText().isEmpty())
            return false;
        title = progress.windowTitle();
        summary = progress.SummaryText();
        failures = progress.FailuresText();
        browseShown = Child<QPushButton>(progress, "m_btnBrowse")->isVisible();
        EXPECT_EQ(bar->value(), bar->maximum());
        Child<QPushButton>(progress, "m_btnBrowse")->click();
        Child<QPushButton>(progress, "m_btnOpenFolder")->click();
        Child<QPushButton>(progress, "m_btnCancel")->click();
        return true;
    });
    Button("m_btnMirror")->click();
    // The bar moved through several values on its way up.
    EXPECT_GE(values.size(), 4u);
    EXPECT_TRUE(std::is_sorted(values.begin(), values.end()));
    EXPECT_GE(counters.size(), 3);
    EXPECT_TRUE(counters.last().startsWith("Files: 43   ")) << counters.last().toStdString();
    EXPECT_TRUE(counters.last().contains("Failed: 2   Queued: 0")) << counters.last().toStdString();
    EXPECT_EQ(title, "100% Mirroring...");
    EXPECT_TRUE(summary.startsWith("Done: 43 files, ")) << summary.toStdString();
    EXPECT_TRUE(summary.endsWith("2 not fetched:")) << summary.toStdString();
    const QString root = QString::fromStdString(server.Root());
    EXPECT_TRUE(failures.contains(root + "/missing.html  (HTTP 404)")) << failures.toStdString();
    EXPECT_TRUE(failures.contains(QString::fromStdString(deadUrl) + "  (connection refused)"))
        << failures.toStdString();
    EXPECT_TRUE(browseShown);
    ASSERT_EQ(opened.size(), 2);
    EXPECT_EQ(opened[0], QUrl::fromLocalFile(Dir() + "/many.html"));
    EXPECT_EQ(opened[1], QUrl::fromLocalFile(Dir() + "/"));
}

// "tandril URL" opens with the URL in its field, to be mirrored as if typed.
TEST_F(MainDialog, UrlFromTheCommandLine) {
    dlg->SetStartUrl(" " + QString::fromStdString(server.Root()) + "/index.html ");
    EXPECT_EQ(Child<QComboBox>(*dlg, "m_cbUrl")->currentText(),
              QString::fromStdString(server.Root()) + "/index.html");
    Child<QComboBox>(*dlg, "m_cbDirectory")->setEditText(Dir());
    {
        auto driver = DriveProgress(test::CloseWhenDone);
        Button("m_btnMirror")->click();
    }
    EXPECT_TRUE(test::FileExists(Dir().toStdString() + "/index.html"));
}

TEST_F(MainDialog, ProgramIconAndMnemonics) {
    EXPECT_TRUE(QFile::exists(":/tandril.png"));
    EXPECT_FALSE(dlg->windowIcon().isNull());
    CAboutDlg about(dlg.get());
    const QLabel* icon = Child<QLabel>(about, "m_icon");
    EXPECT_FALSE(icon->pixmap().isNull());
    // Each of the main dialog's mnemonics belongs to one control, but for A: "&About..."
    // and "Start &afresh" share it, as their texts are given (Alt+A moves between them).
    QSet<QChar> keys;
    for (QAbstractButton* b : dlg->findChildren<QAbstractButton*>()) {
        const QString text = b->text();
        const int amp = text.indexOf('&');
        if (amp < 0 || amp + 1 >= text.size() || text == "Start &afresh")
            continue;
        const QChar key = text[amp + 1].toLower();
        EXPECT_FALSE(keys.contains(key)) << text.toStdString();
        keys.insert(key);
    }
    EXPECT_EQ(Child<QCheckBox>(*dlg, "m_chkAfresh")->text(), "Start &afresh");
    EXPECT_EQ(Child<QRadioButton>(*dlg, "m_rbCopy")->text(), "Cop&y only");
}

// A message box with a 1 MB argument shows at once, cut to a readable length; a log
// line keeps the whole text and appears at once too.
TEST_F(MainDialog, LongTextsNeverFreezeTheInterface) {
    InstallGuiMessageBoxes();
    const std::string url = "http://h/" + std::string(1 << 20, 'x');
    QString shown;
    QElapsedTimer clock;
    clock.start();
    QTimer::singleShot(0, [&] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
                shown = box->text();
                box->accept();
            }
        }
    });
    ShowMessage(kIdsCannotConnect, url);
    const qint64 boxMs = clock.elapsed();
    std::printf("a box with a 1 MB URL: shown and closed in %lld ms\n",
                static_cast<long long>(boxMs));
    EXPECT_LT(boxMs, 3000);
    EXPECT_LE(shown.size(), 2001);
    EXPECT_TRUE(shown.endsWith(QChar(0x2026)));

    server.SetPage("/long.html", "<p>x</p>");
    SetFields(QString::fromStdString(server.Root() + "/long.html"), Dir());
    CMirroringDlg progress(job, dlg.get());
    progress.show();
    clock.restart();
    progress.Progress().AddLogLine("Connecting to " + url);
    QApplication::processEvents();
    progress.repaint();
    const qint64 lineMs = clock.elapsed();
    std::printf("a log line with a 1 MB URL: shown in %lld ms\n", static_cast<long long>(lineMs));
    EXPECT_LT(lineMs, 3000);
    ASSERT_FALSE(progress.LogLines().isEmpty());
    EXPECT_EQ(progress.LogLines().back().size(), static_cast<qsizetype>(url.size() + 14));
    progress.reject();
}

TEST_F(MainDialog, UrlThatCannotBeOpenedAbortsTheRun) {
    CHttpServer gone;
    std::string root = gone.Root();
    gone.Stop();
    SetFields(QString::fromStdString(root + "/index.html"), Dir());
    Button("m_btnMirror")->click();  // returns when the run has closed its dialog
    ASSERT_EQ(boxes.Texts().size(), 1u);
    EXPECT_EQ(boxes.Texts()[0], "Cannot connect to " + root + "/index.html! (connection refused)");
    EXPECT_EQ(boxes.Titles()[0], "Tandril");
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_FALSE(Button("m_btnBrowse")->isEnabled());
}

TEST_F(MainDialog, RefusalsInTheirOrder) {
    CTempDir plain;
    test::WriteFile(plain.Path() + "file", "x");
    const std::string created = tmp.Path() + "created";
    struct Case {
        QString dir;
        QString url;
        std::string message;
        bool frameworkBox;
    } cases[] = {
        {"", "http://h/", "Please choose a directory for downloading.", false},
        {"   ", "", "Please choose a directory for downloading.", false},
        {QString::fromStdString(tmp.Path() + "no/such"), "http://h/",
         "Cannot create directory " + tmp.Path() + "no/such!", false},
        {QString::fromStdString(plain.Path() + "file"), "http://h/",
         "Cannot create directory " + plain.Path() + "file!", false},
        {QString::fromStdString(created), "", "Please enter a URL for downloading.", true},
        {QString::fromStdString(created), "   ", "URL entered is invalid or not supported.", true},
        {QString::fromStdString(created), "ftp://h/", "URL entered is invalid or not supported.",
         true},
    };
    for (const auto& c : cases) {
        CMessageRecorder caseBoxes;
        SetFields(c.url, c.dir);
        int urlCount = Child<QComboBox>(*dlg, "m_cbUrl")->count();
        Button("m_btnMirror")->click();
        ASSERT_EQ(caseBoxes.Texts().size(), 1u) << c.message;
        EXPECT_EQ(caseBoxes.Texts()[0], c.message);
        EXPECT_EQ(caseBoxes.Titles()[0], "Tandril");  // framework and engine boxes alike
        EXPECT_EQ(Child<QComboBox>(*dlg, "m_cbUrl")->count(), urlCount);
    }
    // The directory is created before the URL is looked at.
    EXPECT_TRUE(test::FileExists(created));
}

TEST_F(MainDialog, EnterInTheUrlFieldStartsARun) {
    SetFields("ftp://refused/", Dir());
    auto* url = Child<QComboBox>(*dlg, "m_cbUrl");
    QTest::keyClick(url->lineEdit(), Qt::Key_Return);
    ASSERT_EQ(boxes.Texts().size(), 1u);
    EXPECT_EQ(boxes.Texts()[0], "URL entered is invalid or not supported.");
    EXPECT_EQ(url->count(), 0);  // the default button ran, the field inserted nothing
}

TEST_F(MainDialog, ChosenEntryMovesToTheTopTypedOneIsAdded) {
    auto* url = Child<QComboBox>(*dlg, "m_cbUrl");
    const QString root = QString::fromStdString(server.Root());
    url->addItems({" " + root + "/a.html ", root + "/index.html"});
    Child<QComboBox>(*dlg, "m_cbDirectory")->setEditText(Dir());
    url->setCurrentIndex(0);
    emit url->view()->activated(url->model()->index(0, 0));  // chosen from the list, blanks and all
    {
        auto driver = DriveProgress(test::CloseWhenDone);
        Button("m_btnMirror")->click();
    }
    EXPECT_EQ(url->count(), 2);
    EXPECT_EQ(url->itemText(0), root + "/a.html");  // trimmed, and the chosen one gone
    EXPECT_EQ(url->itemText(1), root + "/index.html");

    url->setEditText(root + "/index.html");  // typed, though the list has it
    QTest::keyClick(url->lineEdit(), Qt::Key_End);
    emit url->lineEdit()->textEdited(url->currentText());
    {
        // Enter on typed text that equals an entry makes the field select that entry
        // (and starts the run); the typed URL is still added as a new entry.
        auto driver = DriveProgress(test::CloseWhenDone);
        QTest::keyClick(url->lineEdit(), Qt::Key_Return);
    }
    EXPECT_EQ(url->count(), 3);
    EXPECT_EQ(url->itemText(0), root + "/index.html");
    EXPECT_EQ(url->itemText(2), root + "/index.html");
}

TEST_F(MainDialog, BrowseOnlyAfterARunThatProcessedAPage) {
    server.SetFile("/only.gif", "GIF89a", "image/gif");
    SetFields(QString::fromStdString(server.Root() + "/only.gif"), Dir());
    {
        auto driver = DriveProgress(test::CloseWhenDone);
        Button("m_btnMirror")->click();
    }
    EXPECT_FALSE(Button("m_btnBrowse")->isEnabled());
    // Each run makes a new copy in the one directory: "Start afresh" says so.
    SetFields(QString::fromStdString(server.Root() + "/a.html"), Dir());
    Child<QCheckBox>(*dlg, "m_chkAfresh")->setChecked(true);
    {
        auto driver = DriveProgress(test::CloseWhenDone);
        Button("m_btnMirror")->click();
    }
    EXPECT_TRUE(Button("m_btnBrowse")->isEnabled());
    Child<QRadioButton>(*dlg, "m_rbCopy")->click();
    EXPECT_FALSE(job.m_limits.m_bModifyLinks);
    SetFields(QString::fromStdString(server.Root() + "/only.gif"), Dir());
    Child<QCheckBox>(*dlg, "m_chkAfresh")->setChecked(true);
    {
        auto driver = DriveProgress(test::CloseWhenDone);
        Button("m_btnMirror")->click();
    }
    EXPECT_FALSE(Button("m_btnBrowse")->isEnabled());
}

// The line under the directory field says what the directory holds; "Mirror..." goes on
// with the copy there, "Start afresh" makes a new one.
TEST_F(MainDialog, SaysWhatTheDirectoryHoldsAndContinuesIt) {
    const QString url = QString::fromStdString(server.Root() + "/index.html");
    auto* line = Child<QLabel>(*dlg, "m_lblCopy");
    auto* afresh = Child<QCheckBox>(*dlg, "m_chkAfresh");
    SetFields(url, Dir());
    EXPECT_EQ(line->text(), "");
    EXPECT_FALSE(afresh->isEnabled());
    job.m_limits.m_nMaxLevels = 1;
    job.m_limits.m_nMaxFiles = 2;
    {
        auto driver = DriveProgress(test::CloseWhenDone);
        Button("m_btnMirror")->click();
    }
    EXPECT_EQ(line->text(), "Copy of " + url + ", 2 files, unfinished");
    EXPECT_TRUE(afresh->isEnabled());
    // Another directory holds nothing; back to the first, the line comes back.
    Child<QComboBox>(*dlg, "m_cbDirectory")->setEditText(QString::fromStdString(tmp.Path()));
    EXPECT_EQ(line->text(), "");
    EXPECT_FALSE(afresh->isEnabled());
    Child<QComboBox>(*dlg, "m_cbDirectory")->setEditText(Dir());
    EXPECT_TRUE(line->text().endsWith("2 files, unfinished"));

    job.m_limits.m_nMaxFiles = 100;
    QStringList lines;
    {
        auto driver = DriveProgress([&](CMirroringDlg& progress) {
            if (progress.ButtonText() != "OK")
                return false;
            lines = progress.LogLines();
            Child<QPushButton>(progress, "m_btnCancel")->click();
            return true;
        });
        Button("m_btnMirror")->click();
    }
    ASSERT_GE(lines.size(), 2);
    EXPECT_EQ(lines[1], "Continuing the copy: 2 files saved before, 1 to go.");
    EXPECT_TRUE(line->text().startsWith("Copy of " + url + ", 3 files, finished "));
    EXPECT_TRUE(Button("m_btnBrowse")->isEnabled());

    // Start afresh: the record is made anew, the files stay until replaced.
    afresh->setChecked(true);
    {
        auto driver = DriveProgress([&](CMirroringDlg& progress) {
            if (progress.ButtonText() != "OK")
                return false;
            lines = progress.LogLines();
            Child<QPushButton>(progress, "m_btnCancel")->click();
            return true;
        });
        Button("m_btnMirror")->click();
    }
    EXPECT_FALSE(lines.join("\n").contains("Updating"));
    EXPECT_FALSE(afresh->isChecked());
    EXPECT_TRUE(line->text().startsWith("Copy of " + url + ", 3 files, finished "));
}

TEST_F(MainDialog, TemporaryFilesGoAtExitOnlyFromTheRunsDirectory) {
    CTempDir other;
    test::WriteFile(other.Path() + "~tmp~99~.tmp", "kept");
    SetFields(QString::fromStdString(server.Root() + "/index.html"), Dir());
    auto driver = DriveProgress(test::CloseWhenDone);
    Button("m_btnMirror")->click();
    const std::string runDir = Dir().toStdString() + "/";
    test::WriteFile(runDir + "~tmp~99~.tmp", "left by the last download");
    test::WriteFile(runDir + "~tmp~98~.tmp", "left by a page");
    // An accepted directory with a refused URL is not a run's directory.
    SetFields("ftp://x/", QString::fromStdString(other.Path()));
    Button("m_btnMirror")->click();
    DeleteTemporaryFiles(dlg->LastRunDirectory());
    EXPECT_FALSE(test::FileExists(runDir + "~tmp~99~.tmp"));
    EXPECT_FALSE(test::FileExists(runDir + "~tmp~98~.tmp"));
    EXPECT_TRUE(test::FileExists(runDir + "index.html"));
    EXPECT_TRUE(test::FileExists(other.Path() + "~tmp~99~.tmp"));
    DeleteTemporaryFiles("");  // no run yet: nothing is deleted
    EXPECT_TRUE(test::FileExists(other.Path() + "~tmp~99~.tmp"));
}

}  // namespace
}  // namespace tandril
