#include "engine/mirroring_dlg.h"

#include <QKeyEvent>

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QPushButton>
#include <QThread>
#include <QTimer>

#include <chrono>
#include <thread>

#include "engine/messages.h"
#include "engine/mirror_job.h"
#include "engine/worker.h"
#include "ui/gui_message_box.h"
#include "ui_mirroring_dlg.h"

namespace tandril {

CMirroringDlg::CMirroringDlg(CMirrorJob& job, QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::CMirroringDlg>()), m_job(job) {
    m_ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    connect(m_ui->m_btnCancel, &QPushButton::clicked, this, &CMirroringDlg::reject);

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
    if (m_bClosed.load()) {
        return;
    }
    QApplication::setOverrideCursor(Qt::WaitCursor);
    m_pThread = std::make_unique<CMirrorRun>(m_job, *this);
    bool started = m_pThread->Start();
    QApplication::restoreOverrideCursor();
    if (!started) {
        OnCancel();
        QDialog::reject();
        ShowFrameworkMessage(kIdsCannotCreateThread);
    }
}

void CMirroringDlg::OnCancel() {
    {
        std::lock_guard<std::mutex> lock(m_callMutex);
        m_bClosed.store(true);
    }
    m_callDone.notify_all();
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

void CMirroringDlg::RunOnUiThread(std::function<void()> apply) {
    if (QThread::currentThread() == thread()) {
        if (!m_bClosed.load())
            apply();
        return;
    }
    std::uint64_t ticket;
    bool post = false;
    {
        std::lock_guard<std::mutex> lock(m_callMutex);
        if (m_bClosed.load())
            return;
        m_pendingCalls.push_back(std::move(apply));
        m_nPendingCalls.fetch_add(1);
        ticket = ++m_nCallsQueued;
        if (!m_bDrainPosted) {
            m_bDrainPosted = true;
            post = true;
        }
    }
    m_callQueued.notify_one();
    if (post) {
        QMetaObject::invokeMethod(this, &CMirroringDlg::DrainCalls, Qt::QueuedConnection);
    }
    // The interface thread usually answers within microseconds: watching for that a
    // little while saves the worker a sleep and a wake-up per line.
    auto answered = [&] { return m_nCallsDone.load() >= ticket || m_bClosed.load(); };
    const auto spinUntil = std::chrono::steady_clock::now() + std::chrono::microseconds(200);
    while (!answered() && std::chrono::steady_clock::now() < spinUntil) {
        std::this_thread::yield();
    }
    std::unique_lock<std::mutex> lock(m_callMutex);
    m_callDone.wait(lock, answered);
}

void CMirroringDlg::DrainCalls() {
    using Clock = std::chrono::steady_clock;
    // While the worker reports often, the interface thread waits here a short while
    // for the next call rather than in its event loop, where waking up costs far more;
    // it gives the event loop back at least every few milliseconds.
    const auto started = Clock::now();
    auto lingerUntil = started + std::chrono::milliseconds(2);
    for (;;) {
        std::deque<std::function<void()>> batch;
        {
            std::lock_guard<std::mutex> lock(m_callMutex);
            batch.swap(m_pendingCalls);
            m_nPendingCalls.store(0);
        }
        for (auto& call : batch) {
            if (!m_bClosed.load())
                call();
            {
                std::lock_guard<std::mutex> lock(m_callMutex);
                m_nCallsDone.fetch_add(1);
            }
            m_callDone.notify_all();
        }
        const auto now = Clock::now();
        if (!batch.empty())
            lingerUntil = now + std::chrono::milliseconds(2);
        // The next call often follows within microseconds: watch for it briefly first.
        const auto spinUntil = std::min(lingerUntil, now + std::chrono::microseconds(300));
        while (m_nPendingCalls.load() == 0 && !m_bClosed.load() && Clock::now() < spinUntil) {
            std::this_thread::yield();
        }
        std::unique_lock<std::mutex> lock(m_callMutex);
        m_callQueued.wait_until(lock, lingerUntil,
                                [this] { return !m_pendingCalls.empty() || m_bClosed.load(); });
        if (m_pendingCalls.empty() || m_bClosed.load()) {
            m_bDrainPosted = false;
            return;
        }
        if (Clock::now() - started > std::chrono::milliseconds(5)) {
            // More is waiting: come back after the event loop has had its turn.
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

void CMirroringDlg::AddLogLine(const std::string& text) {
    QString line = QString::fromUtf8(text.data(), static_cast<int>(text.size()));
    RunOnUiThread([this, line] { AppendLine(line); });
}

void CMirroringDlg::SetButtonText(const std::string& text) {
    QString label = QString::fromUtf8(text.data(), static_cast<int>(text.size()));
    RunOnUiThread([this, label] { m_ui->m_btnCancel->setText(label); });
}

bool CMirroringDlg::IsWindowAlive() {
    return !m_bClosed.load();
}

void CMirroringDlg::AbortRun() {
    {
        std::lock_guard<std::mutex> lock(m_callMutex);
        m_bClosed.store(true);
    }
    m_callDone.notify_all();
    // The worker ends by itself after this; the dialog closes as a Cancel would.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (m_pThread) {
                m_pThread->Cancel();
                m_pThread.reset();
            }
            QDialog::reject();
        },
        Qt::QueuedConnection);
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
