#pragma once

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QPushButton>
#include <QSettings>
#include <QTimer>

#include <functional>
#include <memory>

#include "engine/mirroring_dlg.h"
#include "tests/support/test_support.h"

namespace tandril::test {

// Points the program's settings at a fresh directory for one test.
class CTempSettings {
public:
    CTempSettings() {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                           QString::fromStdString(m_dir.Path()));
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope,
                           QString::fromStdString(m_dir.Path()));
    }
    const std::string& Path() const { return m_dir.Path(); }

private:
    CTempDir m_dir;
};

// Polls every few milliseconds, while a modal dialog runs, for the progress dialog;
// calls `step` with it until `step` returns true. Polling ends with the returned timer.
inline std::unique_ptr<QTimer> DriveProgress(std::function<bool(CMirroringDlg&)> step) {
    auto timer = std::make_unique<QTimer>();
    QTimer* raw = timer.get();
    QObject::connect(raw, &QTimer::timeout, [raw, step] {
        auto* dlg = qobject_cast<CMirroringDlg*>(QApplication::activeModalWidget());
        if (dlg != nullptr && dlg->isVisible() && step(*dlg)) {
            raw->stop();
        }
    });
    raw->start(2);
    return timer;
}

template <typename T>
T* Child(QObject& parent, const char* name) {
    return parent.findChild<T*>(name);
}

// A DriveProgress step: presses the button once the run has ended with "OK".
inline bool CloseWhenDone(CMirroringDlg& progress) {
    if (progress.ButtonText() != "OK")
        return false;
    Child<QPushButton>(progress, "m_btnCancel")->click();
    return true;
}

}  // namespace tandril::test
