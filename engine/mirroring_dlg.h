#pragma once

#include <QDialog>
#include <QElapsedTimer>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

#include "engine/progress.h"

namespace Ui {
class CMirroringDlg;
}

class QKeyEvent;

namespace tandril {

class CMirrorJob;
class CMirrorRun;

// The modal "Mirroring..." dialog: lives exactly as long as a run. It starts the
// worker when it opens, shows the progress log, and stops the run when its one
// button (Cancel, later OK), Esc, Enter or the close box is used.
//
// Threads: the dialog lives on the interface thread. The worker calls the
// CProgressLog operations; each is carried to the interface thread and the worker
// waits until it has been applied, or until the dialog has closed.
class CMirroringDlg : public QDialog, public CProgressLog {
    Q_OBJECT

public:
    CMirroringDlg(CMirrorJob& job, QWidget* parent);
    ~CMirroringDlg() override;

    // CProgressLog, called from the worker thread (or the interface thread).
    void AddLogLine(const std::string& text) override;
    bool IsWindowAlive() override;
    void AbortRun() override;

    // For tests and the user: the log's lines and the button's text.
    QStringList LogLines() const;
    QString ButtonText() const;
    // The longest time the interface thread was kept from its event loop during
    // the run, in milliseconds (measured with a 10 ms heartbeat).
    qint64 LongestStallMs() const { return m_longestStallMs; }

    static constexpr int kMaxLogLines = 100000;

public slots:
    void reject() override;  // Cancel, Esc, the close box
    void accept() override;  // Enter: the same as Cancel

protected:
    // Enter (either key) ends the run as Cancel does.
    void keyPressEvent(QKeyEvent* event) override;
    void SetButtonText(const std::string& text) override;
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void OnStart();
    void OnCancel();
    void AppendLine(const QString& text);
    // Runs `apply` on the interface thread and waits for it (or for the close).
    void RunOnUiThread(std::function<void()> apply);
    // Interface thread: applies the worker's queued calls in order.
    void DrainCalls();

    std::unique_ptr<Ui::CMirroringDlg> m_ui;
    CMirrorJob& m_job;
    std::unique_ptr<CMirrorRun> m_pThread;
    bool m_bStarted = false;
    std::atomic<bool> m_bClosed{false};
    std::mutex m_callMutex;  // guards the queue of calls and the drain flag
    std::condition_variable m_callDone;
    std::condition_variable m_callQueued;
    std::deque<std::function<void()>> m_pendingCalls;
    bool m_bDrainPosted = false;  // a DrainCalls is posted or running
    std::atomic<std::size_t> m_nPendingCalls{0};
    std::uint64_t m_nCallsQueued = 0;
    std::atomic<std::uint64_t> m_nCallsDone{0};
    qint64 m_longestStallMs = 0;
    QElapsedTimer m_heartbeatClock;
};

}  // namespace tandril
