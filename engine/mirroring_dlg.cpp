#include "engine/mirroring_dlg.h"

#include <QKeyEvent>

#include <algorithm>
#include <climits>

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QElapsedTimer>
#include <QEvent>
#include <QFileInfo>
#include <QPushButton>
#include <QTimer>
#include <QUrl>

#include "engine/messages.h"
#include "engine/mirror_job.h"
#include "engine/progress_queue.h"
#include "engine/worker.h"
#include "ui/gui_message_box.h"
#include "ui_mirroring_dlg.h"

namespace tandril {

CMirroringDlg::CMirroringDlg(CMirrorJob& job, QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::CMirroringDlg>()), m_job(job), m_progress([this] {
          QMetaObject::invokeMethod(this, &CMirroringDlg::DrainCalls, Qt::QueuedConnection);
      }) {
    m_ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    connect(m_ui->m_btnCancel, &QPushButton::clicked, this, &CMirroringDlg::reject);
    connect(m_ui->m_btnBrowse, &QPushButton::clicked, this, [this] {
        if (!m_job.m_limits.m_strStartPage.empty())
            OpenHook()(QUrl::fromLocalFile(QString::fromStdString(m_job.m_limits.m_strStartPage)));
    });
    connect(m_ui->m_btnOpenFolder, &QPushButton::clicked, this, [this] {
        OpenHook()(QUrl::fromLocalFile(QString::fromStdString(m_job.m_strTargetDir)));
    });
    m_ui->m_lblSummary->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_runClock.start();
    auto* counters = new QTimer(this);
    connect(counters, &QTimer::timeout, this, &CMirroringDlg::RefreshCounters);
    counters->start(100);  // at most 10 times a second

    // A heartbeat that measures how long the interface thread is kept busy.
    auto* heartbeat = new QTimer(this);
    m_heartbeatClock.start();
    connect(heartbeat, &QTimer::timeout, this, [this, heartbeat] {
        qint64 late = m_heartbeatClock.restart() - heartbeat->interval();
        if (late > m_longestStallMs) {
            m_longestStallMs = late;
        }
    });
    heartbeat->start(10);
}

std::function<void(const QUrl&)>& CMirroringDlg::OpenHook() {
    static std::function<void(const QUrl&)> hook = [](const QUrl& url) {
        QDesktopServices::openUrl(url);
    };
    return hook;
}

namespace {

QString Megabytes(std::uint64_t bytes) {
    return QString::number(static_cast<double>(bytes) / 1048576.0, 'f', 1) + " MB";
}

QString Elapsed(qint64 ms) {
    const qint64 s = ms / 1000;
    return QString("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QChar('0'));
}

}  // namespace

void CMirroringDlg::RefreshCounters() {
    // After the summary the counters stand as the run left them.
    if (m_bClosed || m_bSummaryShown)
        return;
    RunProgress p;
    if (m_progress.LatestProgress(p)) {
        const qint64 now = m_runClock.elapsed();
        m_samples.emplace_back(now, p.bytes);
        while (m_samples.size() > 2 && now - m_samples.front().first > 3000)
            m_samples.erase(m_samples.begin());
        const double seconds = (now - m_samples.front().first) / 1000.0;
        const double speed =
            seconds > 0 ? static_cast<double>(p.bytes - m_samples.front().second) / seconds : 0;
        const std::uint32_t known = std::max(p.filesKnown, p.filesDone);
        QProgressBar* bar = m_ui->m_progressBar;
        if (known > 0) {
            bar->setMaximum(static_cast<int>(std::min<std::uint32_t>(known, INT_MAX)));
            bar->setValue(static_cast<int>(std::min<std::uint32_t>(p.filesDone, INT_MAX)));
            setWindowTitle(QString("%1% Mirroring...").arg(p.filesDone * 100ull / known));
        }
        m_ui->m_lblCounters->setText(
            QString("Files: %1   %2   %3 KB/s   %4   Failed: %5   Queued: %6")
                .arg(p.filesDone)
                .arg(Megabytes(p.bytes))
                .arg(static_cast<qint64>(speed / 1024))
                .arg(Elapsed(now))
                .arg(p.failures)
                .arg(p.queued));
    }
    if (m_pThread && !m_bSummaryShown && m_pThread->End() != RunEnd::Running)
        ShowSummary(static_cast<int>(m_pThread->End()));
}

void CMirroringDlg::ShowSummary(int end) {
    // What the worker queued before it ended goes in first: it queues nothing more.
    for (std::vector<ProgressItem> items; !(items = m_progress.Take()).empty();) {
        for (ProgressItem& item : items) {
            if (m_bClosed || !Apply(item))
                return;
        }
    }
    m_bSummaryShown = true;
    RunProgress p;
    m_progress.LatestProgress(p);
    const CMirrorLimits& l = m_job.m_limits;
    const std::uint64_t bytes =
        l.m_nMegaBytes * 1048576ull + l.m_nKiloRest * 1024ull + l.m_nByteRest;
    QString how;
    switch (static_cast<RunEnd>(end)) {
        case RunEnd::Done:
            how = "Done";
            break;
        case RunEnd::Limit:
            how = "Stopped at a limit";
            break;
        case RunEnd::Stalled:
            how = "Stalled (see the message)";
            break;
        default:
            how = "Failed";
            break;
    }
    m_ui->m_lblSummary->setText(QString("%1: %2 files, %3 saved in %4. %5")
                                    .arg(how)
                                    .arg(l.m_nFiles)
                                    .arg(Megabytes(bytes))
                                    .arg(Elapsed(m_runClock.elapsed()))
                                    .arg(m_failures.isEmpty()
                                             ? QString("No failures.")
                                             : QString("%1 not fetched:").arg(m_failures.size())));
    m_ui->m_lblSummary->setVisible(true);
    if (!m_failures.isEmpty()) {
        m_ui->m_txtFailures->setPlainText(m_failures.join('\n'));
        m_ui->m_txtFailures->setVisible(true);
    }
    const std::uint32_t known = std::max(p.filesKnown, p.filesDone);
    if (static_cast<RunEnd>(end) == RunEnd::Done && known > 0) {
        m_ui->m_progressBar->setMaximum(static_cast<int>(known));
        m_ui->m_progressBar->setValue(static_cast<int>(known));
    }
    m_ui->m_btnBrowse->setVisible(!l.m_strStartPage.empty());
    m_ui->m_btnOpenFolder->setVisible(true);
}

QString CMirroringDlg::CountersText() const {
    return m_ui->m_lblCounters->text();
}

QString CMirroringDlg::SummaryText() const {
    return m_ui->m_lblSummary->isVisible() || m_bSummaryShown ? m_ui->m_lblSummary->text()
                                                              : QString();
}

QString CMirroringDlg::FailuresText() const {
    return m_ui->m_txtFailures->toPlainText();
}

CMirroringDlg::~CMirroringDlg() {
    OnCancel();
}

void CMirroringDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!m_bStarted) {
        m_bStarted = true;
        // The worker starts once the dialog is on screen.
        QMetaObject::invokeMethod(this, &CMirroringDlg::OnStart, Qt::QueuedConnection);
    }
}

void CMirroringDlg::OnStart() {
    if (m_bClosed) {
        return;
    }
    QApplication::setOverrideCursor(Qt::WaitCursor);
    m_pThread = std::make_unique<CMirrorRun>(m_job, m_progress);
    bool started = m_pThread->Start();
    QApplication::restoreOverrideCursor();
    if (!started) {
        OnCancel();
        QDialog::reject();
        ShowFrameworkMessage(kIdsCannotCreateThread);
    }
}

void CMirroringDlg::OnCancel() {
    m_bClosed = true;
    m_progress.Close();
    // A worker waiting for a message box must not hold up the join.
    ReleasePendingMessageBoxes();
    if (m_pThread) {
        m_pThread->Cancel();
        m_pThread.reset();
    }
}

void CMirroringDlg::reject() {
    OnCancel();
    QDialog::reject();
}

void CMirroringDlg::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        reject();
        return;
    }
    QDialog::keyPressEvent(event);
}

void CMirroringDlg::accept() {
    reject();
}

void CMirroringDlg::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && isMinimized() && parentWidget()) {
        parentWidget()->showMinimized();
    }
}

bool CMirroringDlg::Apply(ProgressItem& item) {
    const QString text =
        QString::fromUtf8(item.text.data(), static_cast<qsizetype>(item.text.size()));
    switch (item.kind) {
        case ProgressItem::Kind::Line:
            AppendLine(text);
            break;
        case ProgressItem::Kind::Button:
            m_ui->m_btnCancel->setText(text);
            break;
        case ProgressItem::Kind::Failure:
            m_failures << text + "  (" +
                              QString::fromUtf8(item.reason.data(),
                                                static_cast<qsizetype>(item.reason.size())) +
                              ")";
            break;
        case ProgressItem::Kind::Abort:
            OnRunAborted();
            return false;
    }
    return true;
}

void CMirroringDlg::DrainCalls() {
    // Gives the event loop back every few milliseconds while the worker reports fast;
    // the wake stays outstanding until Take() comes back empty, so a drain is reposted.
    QElapsedTimer clock;
    clock.start();
    while (!m_bClosed) {
        std::vector<ProgressItem> items = m_progress.Take();
        if (items.empty())
            return;
        for (ProgressItem& item : items) {
            if (m_bClosed || !Apply(item))
                return;
        }
        if (clock.elapsed() >= 5) {
            QMetaObject::invokeMethod(this, &CMirroringDlg::DrainCalls, Qt::QueuedConnection);
            return;
        }
    }
}

void CMirroringDlg::AppendLine(const QString& text) {
    QListWidget* list = m_ui->m_listLog;
    // Every line is one text line: the list measures one, not each (a line with a
    // 1 MB URL would otherwise be measured, glyph by glyph, at every layout).
    list->setUniformItemSizes(true);
    if (list->count() >= kMaxLogLines) {
        delete list->takeItem(0);
    }
    list->addItem(text);
    // The line is in the list when the call returns; the screen (the newest line
    // selected and in view) catches up at most every 40 ms, so that a fast run is
    // not held up by painting and scrolling for each line.
    if (list->updatesEnabled()) {
        list->setUpdatesEnabled(false);
        QTimer::singleShot(40, list, [list] {
            list->setCurrentRow(list->count() - 1);
            list->setUpdatesEnabled(true);
        });
    }
}

void CMirroringDlg::OnRunAborted() {
    // The worker has reported its failure and ends by itself: close as a Cancel would.
    OnCancel();
    QDialog::reject();
}

QStringList CMirroringDlg::LogLines() const {
    QStringList lines;
    for (int i = 0; i < m_ui->m_listLog->count(); ++i) {
        lines << m_ui->m_listLog->item(i)->text();
    }
    return lines;
}

QString CMirroringDlg::ButtonText() const {
    return m_ui->m_btnCancel->text();
}

}  // namespace tandril
