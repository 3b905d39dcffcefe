#include <gtest/gtest.h>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QSet>
#include <QLineEdit>
#include <QPlainTextEdit>

#include "engine/messages.h"
#include "engine/mirror_job.h"
#include "tests/widgets/widget_support.h"
#include "ui/option_number.h"
#include "ui/options_dlg.h"

namespace tandril {
namespace {

TEST(OptionNumber, Reading) {
    struct Case {
        const char* text;
        std::optional<std::uint32_t> value;
    } cases[] = {
        {"12", 12u},
        {" \t12\t ", 12u},
        {"+5", 5u},
        {"0", 0u},
        {"007", 7u},
        {"-1", 4294967295u},
        {"-2", 4294967294u},
        {"99999999999", 4294967295u},
        {"4294967295", 4294967295u},
        {"", std::nullopt},
        {"  ", std::nullopt},
        {"12a", std::nullopt},
        {"0x10", std::nullopt},
        {"abc", std::nullopt},
        {"+0", std::nullopt},
        {"-0", std::nullopt},
        {"- 5", std::nullopt},
        {"1 2", std::nullopt},
        {"+", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ParseOptionNumber(c.text), c.value) << '"' << c.text << '"';
    }
}

struct DialogCase {
    const char* files;
    const char* levels;
    const char* megabytes;
    const char* message;  // null: accepted
    const char* focus;    // the field that gets the focus
    const char* connections = "6";
};

TEST(OptionsDialog, ChecksOnOk) {
    const DialogCase cases[] = {
        {"10", "0", "1", nullptr, nullptr},
        {"10000", "1000", "2048", nullptr, nullptr, "16"},
        {"10", "1", "1", nullptr, nullptr, "1"},
        {" 12 ", "2", "3", nullptr, nullptr},
        {"0", "1", "1", "Please enter an integer between 1 and 10000.", "m_editFiles"},
        {"-1", "1", "1", "Please enter an integer between 1 and 10000.", "m_editFiles"},
        {"12a", "1", "1", "Please enter a positive integer.", "m_editFiles"},
        {"", "1", "1", "Please enter a positive integer.", "m_editFiles"},
        {"0x10", "1", "1", "Please enter a positive integer.", "m_editFiles"},
        {"10", "1001", "1", "Please enter an integer between 0 and 1000.", "m_editLevels"},
        {"10", "1", "0", "Please enter an integer between 1 and 2048.", "m_editMegaBytes"},
        {"10", "1", "2049", "Please enter an integer between 1 and 2048.", "m_editMegaBytes"},
        {"10", "1", "1", "Please enter an integer between 1 and 16.", "m_editConnections", "17"},
        {"10", "1", "1", "Please enter an integer between 1 and 16.", "m_editConnections", "0"},
        // Only the first failing field is reported.
        {"0", "5000", "1", "Please enter an integer between 1 and 10000.", "m_editFiles"},
    };
    for (const auto& c : cases) {
        test::CMessageRecorder boxes;
        CMirrorLimits limits;
        limits.m_nMaxLevels = 7;
        limits.m_nMaxFiles = 77;
        limits.m_nMaxMegaBytes = 777;
        COptionsDlg dlg(limits, nullptr);
        dlg.show();
        dlg.FilesField()->setText(c.files);
        dlg.LevelsField()->setText(c.levels);
        dlg.MegaBytesField()->setText(c.megabytes);
        dlg.ConnectionsField()->setText(c.connections);
        test::Child<QPushButton>(dlg, "m_btnOk")->click();
        if (c.message == nullptr) {
            EXPECT_TRUE(boxes.Texts().empty()) << c.files;
            EXPECT_EQ(dlg.result(), QDialog::Accepted);
            EXPECT_EQ(limits.m_nMaxFiles, ParseOptionNumber(c.files).value());
            EXPECT_EQ(limits.m_nMaxLevels, ParseOptionNumber(c.levels).value());
            EXPECT_EQ(limits.m_nMaxMegaBytes, ParseOptionNumber(c.megabytes).value());
            EXPECT_EQ(limits.m_nMaxConnections, ParseOptionNumber(c.connections).value());
            continue;
        }
        ASSERT_EQ(boxes.Texts().size(), 1u) << c.files << "/" << c.levels;
        EXPECT_EQ(boxes.Texts()[0], c.message);
        EXPECT_EQ(boxes.Titles()[0], std::string("Tandril"));
        EXPECT_TRUE(dlg.isVisible());
        auto* focused = test::Child<QLineEdit>(dlg, c.focus);
        EXPECT_EQ(dlg.focusWidget(), focused) << c.focus;
        EXPECT_EQ(focused->selectedText(), focused->text());
        EXPECT_EQ(limits.m_nMaxFiles, 77u);
        EXPECT_EQ(limits.m_nMaxLevels, 7u);
        EXPECT_EQ(limits.m_nMaxMegaBytes, 777u);
        test::Child<QPushButton>(dlg, "m_btnCancel")->click();
        EXPECT_EQ(limits.m_nMaxFiles, 77u);
    }
}

TEST(OptionsDialog, RelativeLinksCheckBox) {
    CMirrorLimits limits;
    {
        COptionsDlg dlg(limits, nullptr);
        dlg.show();
        EXPECT_EQ(dlg.RelativeLinksBox()->text(), "Make links relati&ve (portable copy)");
        EXPECT_FALSE(dlg.RelativeLinksBox()->isChecked());
        dlg.RelativeLinksBox()->setChecked(true);
        test::Child<QPushButton>(dlg, "m_btnCancel")->click();
    }
    EXPECT_FALSE(limits.m_bRelativeLinks);  // Cancel keeps the choice
    COptionsDlg dlg(limits, nullptr);
    dlg.show();
    dlg.RelativeLinksBox()->setChecked(true);
    test::Child<QPushButton>(dlg, "m_btnOk")->click();
    EXPECT_TRUE(limits.m_bRelativeLinks);
}

TEST(OptionsDialog, OffsiteEmbeddedCheckBox) {
    CMirrorLimits limits;
    {
        COptionsDlg dlg(limits, nullptr);
        dlg.show();
        EXPECT_EQ(dlg.OffsiteEmbeddedBox()->text(), "Fetch &embedded files from other sites");
        EXPECT_TRUE(dlg.OffsiteEmbeddedBox()->isChecked());
        dlg.OffsiteEmbeddedBox()->setChecked(false);
        test::Child<QPushButton>(dlg, "m_btnCancel")->click();
    }
    EXPECT_TRUE(limits.m_bOffsiteEmbedded);  // Cancel keeps the choice
    COptionsDlg dlg(limits, nullptr);
    dlg.show();
    dlg.OffsiteEmbeddedBox()->setChecked(false);
    test::Child<QPushButton>(dlg, "m_btnOk")->click();
    EXPECT_FALSE(limits.m_bOffsiteEmbedded);
}

TEST(OptionsDialog, CookiesFileField) {
    CMirrorLimits limits;
    COptionsDlg dlg(limits, nullptr);
    dlg.show();
    EXPECT_TRUE(dlg.CookiesField()->text().isEmpty());
    dlg.CookiesField()->setText("  /home/ann/cookies.txt ");
    test::Child<QPushButton>(dlg, "m_btnOk")->click();
    EXPECT_EQ(limits.m_strCookiesFile, "/home/ann/cookies.txt");
}

TEST(OptionsDialog, ScopeAndPoliteness) {
    CMirrorLimits limits;
    {
        COptionsDlg dlg(limits, nullptr);
        dlg.show();
        EXPECT_EQ(dlg.RobotsBox()->text(), "Obey &robots.txt");
        EXPECT_TRUE(dlg.RobotsBox()->isChecked());
        EXPECT_EQ(dlg.NoParentBox()->text(), "Stay &below the start folder");
        EXPECT_FALSE(dlg.NoParentBox()->isChecked());
        EXPECT_EQ(dlg.PauseField()->text(), "0");
        dlg.RobotsBox()->setChecked(false);
        dlg.NoParentBox()->setChecked(true);
        dlg.PauseField()->setText("250");
        dlg.SkipField()->setPlainText("*do=edit*\n\n  */forum/*  \n");
        dlg.FollowField()->setPlainText("cdn.example.com/*");
        test::Child<QPushButton>(dlg, "m_btnOk")->click();
    }
    EXPECT_FALSE(limits.m_bObeyRobots);
    EXPECT_TRUE(limits.m_bNoParent);
    EXPECT_EQ(limits.m_nPauseMs, 250u);
    EXPECT_EQ(limits.m_skipPatterns, (std::vector<std::string>{"*do=edit*", "*/forum/*"}));
    EXPECT_EQ(limits.m_followPatterns, std::vector<std::string>{"cdn.example.com/*"});
    COptionsDlg dlg(limits, nullptr);
    dlg.show();
    EXPECT_EQ(dlg.SkipField()->toPlainText(), "*do=edit*\n*/forum/*");
    test::CMessageRecorder boxes;
    dlg.PauseField()->setText("60001");
    test::Child<QPushButton>(dlg, "m_btnOk")->click();
    EXPECT_EQ(boxes.Texts(),
              std::vector<std::string>{"Please enter an integer between 0 and 60000."});
}

TEST(OptionsDialog, OutOfRangeStoredValuesAreShownWithoutComplaint) {
    test::CMessageRecorder boxes;
    CMirrorLimits limits;
    limits.m_nMaxLevels = 5000;
    COptionsDlg dlg(limits, nullptr);
    dlg.show();
    EXPECT_EQ(dlg.LevelsField()->text(), "5000");
    EXPECT_EQ(dlg.FilesField()->text(), "200");
    EXPECT_TRUE(boxes.Texts().empty());
    test::Child<QPushButton>(dlg, "m_btnOk")->click();
    ASSERT_EQ(boxes.Texts().size(), 1u);
    EXPECT_EQ(boxes.Texts()[0], "Please enter an integer between 0 and 1000.");
    test::Child<QPushButton>(dlg, "m_btnCancel")->click();
    EXPECT_EQ(limits.m_nMaxLevels, 5000u);
}

}  // namespace
}  // namespace tandril

namespace tandril {
namespace {

// The settings in four groups that fit a 1366x768 screen; each mnemonic belongs to one
// control; Tab goes through the groups in order.
TEST(OptionsDialog, GroupsMnemonicsAndTabOrder) {
    CMirrorLimits limits;
    COptionsDlg dlg(limits, nullptr);
    dlg.show();
    QStringList groups;
    for (const QGroupBox* g : dlg.findChildren<QGroupBox*>())
        groups << g->title();
    EXPECT_EQ(groups, (QStringList{"Limits", "Links", "Scope", "Network"}));
    const QSize size = dlg.sizeHint();
    EXPECT_LE(size.width(), 1366);
    EXPECT_LE(size.height(), 768 - 60);  // a panel and the title bar
    QSet<QChar> keys;
    QStringList texts;
    for (const QLabel* l : dlg.findChildren<QLabel*>())
        texts << l->text();
    for (const QAbstractButton* b : dlg.findChildren<QAbstractButton*>())
        texts << b->text();
    for (const QString& text : texts) {
        const int amp = text.indexOf('&');
        if (amp < 0 || amp + 1 >= text.size())
            continue;
        const QChar key = text[amp + 1].toLower();
        EXPECT_FALSE(keys.contains(key)) << text.toStdString();
        keys.insert(key);
    }
    EXPECT_GE(keys.size(), 9);
    QStringList order;
    QWidget* w = dlg.findChild<QWidget*>("m_btnOk");
    for (int i = 0; i < 14 && w != nullptr; ++i) {
        order << w->objectName();
        w = w->nextInFocusChain();
        while (w != nullptr && (w->focusPolicy() & Qt::TabFocus) == 0)
            w = w->nextInFocusChain();
    }
    EXPECT_EQ(order, (QStringList{"m_btnOk", "m_btnCancel", "m_editLevels", "m_editFiles",
                                  "m_editMegaBytes", "m_chkRelative", "m_chkOffsite",
                                  "m_chkRobots", "m_chkNoParent", "m_editSkip", "m_editFollow",
                                  "m_editConnections", "m_editPause", "m_editCookies"}));
}

}  // namespace
}  // namespace tandril
