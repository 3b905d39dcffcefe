#include "engine/mirroring_dlg.h"

#include <QKeyEvent>

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QPushButton>
#include <QTimer>

#include "engine/messages.h"
#include "engine/mirror_job.h"
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
            if (m_bClosed)
                return;
            const QString text =
                QString::fromUtf8(item.text.data(), static_cast<qsizetype>(item.text.size()));
            switch (item.kind) {
                case ProgressItem::Kind::Line:
                    AppendLine(text);
                    break;
                case ProgressItem::Kind::Button:
                    m_ui->m_btnCancel->setText(text);
                    break;
                case ProgressItem::Kind::Abort:
                    OnRunAborted();
                    return;
            }
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
