#include <gtest/gtest.h>
#include <QElapsedTimer>
#include <QRadioButton>
#include <QSettings>

#include <cstdio>
#include <functional>

#include "engine/mirror_job.h"
#include "tests/widgets/widget_support.h"
#include "ui/main_dlg.h"
#include "ui/settings_store.h"

namespace tandril {
namespace {

using test::Child;
using test::CTempSettings;

TEST(Settings, FirstStartDefaults) {
    CTempSettings settings;
    CMirrorJob job;
    job.m_limits.m_nMaxLevels = 99;
    CMainDlg dlg(job);
    EXPECT_EQ(Child<QComboBox>(dlg, "m_cbUrl")->count(), 0);
    EXPECT_EQ(Child<QComboBox>(dlg, "m_cbDirectory")->count(), 0);
    EXPECT_TRUE(Child<QRadioButton>(dlg, "m_rbModify")->isChecked());
    EXPECT_TRUE(job.m_limits.m_bModifyLinks);
    EXPECT_EQ(job.m_limits.m_nMaxLevels, 1u);
    EXPECT_EQ(job.m_limits.m_nMaxFiles, 200u);
    EXPECT_EQ(job.m_limits.m_nMaxMegaBytes, 5u);
    EXPECT_FALSE(job.m_limits.m_bRelativeLinks);
    EXPECT_TRUE(job.m_limits.m_bOffsiteEmbedded);
    EXPECT_EQ(job.m_limits.m_nMaxConnections, 6u);
}

TEST(Settings, OffsiteEmbeddedIsSavedBesideTheLimits) {
    CTempSettings settings;
    {
        QSettings raw("Orvello", "Tandril");
        raw.setValue("Options/Offsite Embedded", 0);
        raw.setValue("Options/Cookies File", QString::fromUtf8("/home/ann/cookies \xC3\xA9.txt"));
    }
    CMirrorJob job;
    {
        CMainDlg dlg(job);
        EXPECT_FALSE(job.m_limits.m_bOffsiteEmbedded);
        EXPECT_EQ(job.m_limits.m_strCookiesFile, "/home/ann/cookies \xC3\xA9.txt");
        job.m_limits.m_bOffsiteEmbedded = true;
        job.m_limits.m_strCookiesFile = "/tmp/c.txt";
    }
    CSettingsStore store("Orvello", "Tandril");
    EXPECT_EQ(store.ReadInt("Options", "Offsite Embedded", 9), 1u);
    EXPECT_EQ(store.ReadString("Options", "Cookies File", {}), "/tmp/c.txt");
}

TEST(Settings, ScopeAndPolitenessAreSavedBesideTheLimits) {
    CTempSettings settings;
    CMirrorJob job;
    {
        CMainDlg dlg(job);
        EXPECT_TRUE(job.m_limits.m_bObeyRobots);
        EXPECT_FALSE(job.m_limits.m_bNoParent);
        EXPECT_EQ(job.m_limits.m_nPauseMs, 0u);
        EXPECT_TRUE(job.m_limits.m_skipPatterns.empty());
        job.m_limits.m_bObeyRobots = false;
        job.m_limits.m_bNoParent = true;
        job.m_limits.m_nPauseMs = 1500;
        job.m_limits.m_skipPatterns = {"*do=edit*", "*/forum/*"};
        job.m_limits.m_followPatterns = {"cdn.example.com/*"};
    }
    CSettingsStore store("Orvello", "Tandril");
    EXPECT_EQ(store.ReadInt("Options", "Obey Robots", 9), 0u);
    EXPECT_EQ(store.ReadInt("Options", "No Parent", 9), 1u);
    EXPECT_EQ(store.ReadInt("Options", "Pause", 9), 1500u);
    CMirrorJob again;
    CMainDlg dlg(again);
    EXPECT_FALSE(again.m_limits.m_bObeyRobots);
    EXPECT_EQ(again.m_limits.m_skipPatterns, job.m_limits.m_skipPatterns);
    EXPECT_EQ(again.m_limits.m_followPatterns, job.m_limits.m_followPatterns);
}

TEST(Settings, RelativeLinksAreSavedBesideTheLimits) {
    CTempSettings settings;
    {
        QSettings raw("Orvello", "Tandril");
        raw.setValue("Options/Relative Links", 1);
        raw.setValue("Options/Max Connections", 40);
    }
    CMirrorJob job;
    {
        CMainDlg dlg(job);
        EXPECT_TRUE(job.m_limits.m_bRelativeLinks);
        EXPECT_EQ(job.m_limits.m_nMaxConnections, 6u);  // out of range: the default
        job.m_limits.m_bRelativeLinks = false;
        job.m_limits.m_nMaxConnections = 3;
    }
    CSettingsStore store("Orvello", "Tandril");
    EXPECT_EQ(store.ReadInt("Options", "Relative Links", 9), 0u);
    EXPECT_EQ(store.ReadInt("Options", "Max Connections", 9), 3u);
}

TEST(Settings, RoundTrip) {
    CTempSettings settings;
    {
        QSettings raw("Orvello", "Tandril");
        raw.setValue("URL/Count", 40);
        for (int i = 0; i < 35; ++i) {
            raw.setValue("URL/URL" + QString::number(i), "http://h/" + QString::number(i));
        }
        raw.setValue("URL/URL3", "HTTP://H/1");  // repeats URL1, ignoring case
        raw.setValue("URL/URL4", "");
        raw.setValue("Path/Count", "not a number");
        raw.setValue("Path/Path0", "/srv/a");
        raw.setValue("Options/Modify Link", 7);
        raw.setValue("Options/Max Level", 5000);
        raw.setValue("Options/Max File", "-3");
        raw.setValue("Options/Max MB", 4294967295u);
    }
    CMirrorJob job;
    {
        CMainDlg dlg(job);
        auto* urls = Child<QComboBox>(dlg, "m_cbUrl");
        ASSERT_EQ(urls->count(), 33);  // 35 less the repeat and the empty one
        EXPECT_EQ(urls->itemText(0), "http://h/0");
        EXPECT_EQ(urls->itemText(3), "http://h/5");
        EXPECT_EQ(urls->currentText(), "http://h/0");
        EXPECT_EQ(Child<QComboBox>(dlg, "m_cbDirectory")->count(), 0);  // Count unreadable
        EXPECT_TRUE(Child<QRadioButton>(dlg, "m_rbCopy")->isChecked());
        EXPECT_FALSE(job.m_limits.m_bModifyLinks);
        EXPECT_EQ(job.m_limits.m_nMaxLevels, 5000u);
        EXPECT_EQ(job.m_limits.m_nMaxFiles, 200u);
        EXPECT_EQ(job.m_limits.m_nMaxMegaBytes, 4294967295u);
        // A URL typed and never mirrored is saved first.
        urls->setEditText("http://typed/");
        Child<QComboBox>(dlg, "m_cbDirectory")->setEditText("/srv/typed");
    }
    CSettingsStore store("Orvello", "Tandril");
    EXPECT_EQ(store.ReadInt("URL", "Count", 0), 30u);
    EXPECT_EQ(store.ReadString("URL", "URL0", ""), "http://typed/");
    EXPECT_EQ(store.ReadString("URL", "URL1", ""), "http://h/0");
    EXPECT_EQ(store.ReadString("URL", "URL29", ""), "http://h/30");
    EXPECT_EQ(store.ReadInt("Path", "Count", 0), 1u);
    EXPECT_EQ(store.ReadString("Path", "Path0", ""), "/srv/typed");
    EXPECT_EQ(store.ReadInt("Options", "Modify Link", 9), 1u);
    EXPECT_EQ(store.ReadInt("Options", "Max Level", 0), 5000u);
    EXPECT_EQ(store.ReadInt("Options", "Max File", 0), 200u);

    CMirrorJob again;
    CMainDlg reloaded(again);
    EXPECT_EQ(Child<QComboBox>(reloaded, "m_cbUrl")->count(), 30);
    EXPECT_EQ(Child<QComboBox>(reloaded, "m_cbUrl")->currentText(), "http://typed/");
}

// Hand-edited settings start the program within a second and keep what exists.
TEST(Settings, HostileHistoriesLoadQuickly) {
    struct Case {
        const char* name;
        std::function<void(QSettings&)> write;
        QStringList expected;
    } cases[] = {
        {"huge count, entry at its end",
         [](QSettings& raw) {
             raw.setValue("URL/Count", 4294967295u);
             raw.setValue("URL/URL4294967294", "http://last/");
             raw.setValue("URL/URL0", "http://first/");
         },
         {"http://first/", "http://last/"}},
        {"index beyond 64 bits",
         [](QSettings& raw) {
             raw.setValue("URL/Count", 3);
             raw.setValue("URL/URL18446744073709551615", "http://huge/");
             raw.setValue("URL/URL1", "http://one/");
         },
         {"http://one/"}},
        {"40,000 entries",
         [](QSettings& raw) {
             raw.setValue("URL/Count", 40000);
             for (int i = 0; i < 40000; ++i)
                 raw.setValue("URL/URL" + QString::number(i),
                              "http://h/" + QString::number(i % 20000));
         },
         {}},
    };
    for (const auto& c : cases) {
        CTempSettings settings;
        {
            QSettings raw("Orvello", "Tandril");
            c.write(raw);
        }
        QElapsedTimer clock;
        clock.start();
        CMirrorJob job;
        CMainDlg dlg(job);
        const qint64 ms = clock.elapsed();
        std::printf("%s: the main dialog opened in %lld ms\n", c.name, static_cast<long long>(ms));
        EXPECT_LT(ms, 5000) << c.name;
        auto* urls = Child<QComboBox>(dlg, "m_cbUrl");
        if (c.expected.isEmpty()) {
            EXPECT_EQ(urls->count(), 20000) << c.name;  // duplicates dropped
            EXPECT_EQ(urls->itemText(19999), "http://h/19999");
        } else {
            QStringList items;
            for (int i = 0; i < urls->count(); ++i)
                items << urls->itemText(i);
            EXPECT_EQ(items, c.expected) << c.name;
        }
    }
}

TEST(Settings, HugeCountStopsAtTheStoredEntries) {
    CTempSettings settings;
    {
        QSettings raw("Orvello", "Tandril");
        raw.setValue("URL/Count", 4294967295u);
        raw.setValue("URL/URL0", "http://a/");
        raw.setValue("URL/URL2", "http://c/");
    }
    CSettingsStore store("Orvello", "Tandril");
    EXPECT_EQ(store.ReadHistory("URL"), QStringList({"http://a/", "http://c/"}));
}

}  // namespace
}  // namespace tandril
