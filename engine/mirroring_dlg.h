#pragma once

#include <QDialog>
#include <QElapsedTimer>

#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "engine/progress_queue.h"

namespace Ui {
class CMirroringDlg;
}

class QKeyEvent;
class QUrl;

namespace tandril {

class CMirrorJob;
class CMirrorRun;

// The modal "Mirroring..." dialog: lives exactly as long as a run. It starts the
// worker when it opens, shows the progress log, and stops the run when its one
// button (Cancel, later OK), Esc, Enter or the close box is used.
//
// Threads: the dialog lives on the interface thread. The worker reports through
// Progress(), which queues each call and returns at once; the dialog applies the
// queued calls in order on the interface thread.
class CMirroringDlg : public QDialog {
    Q_OBJECT

public:
    CMirroringDlg(CMirrorJob& job, QWidget* parent);
    ~CMirroringDlg() override;

    // What the worker reports through; any thread may call it.
    CProgressLog& Progress() { return m_progress; }

    // For tests and the user: the log's lines and the button's text.
    QStringList LogLines() const;
    QString ButtonText() const;
    // The longest time the interface thread was kept from its event loop during
    // the run, in milliseconds (measured with a 10 ms heartbeat).
    qint64 LongestStallMs() const { return m_longestStallMs; }

    static constexpr int kMaxLogLines = 100000;

    // The counters line and the summary, as shown (tests).
    QString CountersText() const;
    QString SummaryText() const;
    QString FailuresText() const;
    // How "Browse..." and "Open folder" open a page or a folder; tests replace it.
    static std::function<void(const QUrl&)>& OpenHook();

public slots:
    void reject() override;  // Cancel, Esc, the close box
    void accept() override;  // Enter: the same as Cancel

protected:
    // Enter (either key) ends the run as Cancel does.
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void OnStart();
    void OnCancel();
    void OnRunAborted();
    void AppendLine(const QString& text);
    // Applies one call of the worker; false when it ended the dialog.
    bool Apply(struct ProgressItem& item);
    // Shows the latest counters (every 100 ms) and, once the run has ended, the summary.
    void RefreshCounters();
    void ShowSummary(int end);
    // Applies the worker's queued calls in order, a few milliseconds at a time.
    void DrainCalls();

    std::unique_ptr<Ui::CMirroringDlg> m_ui;
    CMirrorJob& m_job;
    CProgressQueue m_progress;
    std::unique_ptr<CMirrorRun> m_pThread;
    bool m_bStarted = false;
    bool m_bClosed = false;
    qint64 m_longestStallMs = 0;
    QElapsedTimer m_heartbeatClock;
    QElapsedTimer m_runClock;
    // Bytes over the last seconds, for the current speed.
    std::vector<std::pair<qint64, std::uint64_t>> m_samples;
    QStringList m_failures;
    bool m_bSummaryShown = false;
};

}  // namespace tandril
