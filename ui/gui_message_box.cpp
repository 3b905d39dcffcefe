#include "ui/gui_message_box.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>

#include <condition_variable>
#include <list>
#include <memory>
#include <mutex>

#include "platform/message.h"

namespace tandril {
namespace {

constexpr int kMaxBoxText = 2000;

struct Request {
    bool done = false;
    bool released = false;
};

std::mutex g_mutex;
std::condition_variable g_changed;
std::list<std::shared_ptr<Request>> g_pending;

// What a box shows of a text: a readable length, an ellipsis where it was cut.
QString BoxText(const std::string& text) {
    QString shown = QString::fromUtf8(text.c_str(), static_cast<qsizetype>(text.size()));
    if (shown.size() > kMaxBoxText) {
        shown = shown.left(kMaxBoxText) + QChar(0x2026);
    }
    return shown;
}

void ShowBox(const std::string& title, const std::string& text, MessageIcon icon) {
    QMessageBox box(
        icon == MessageIcon::Information ? QMessageBox::Information : QMessageBox::Warning,
        QString::fromUtf8(title.c_str()), BoxText(text), QMessageBox::Ok,
        icon == MessageIcon::Warning ? QApplication::activeWindow() : nullptr);
    box.exec();
}

void ShowFromAnyThread(const std::string& title, const std::string& text, MessageIcon icon) {
    if (QThread::currentThread() == qApp->thread()) {
        ShowBox(title, text, icon);
        return;
    }
    auto request = std::make_shared<Request>();
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        g_pending.push_back(request);
    }
    QMetaObject::invokeMethod(
        qApp,
        [request, title, text, icon] {
            bool released;
            {
                std::lock_guard<std::mutex> lock(g_mutex);
                released = request->released;
            }
            if (!released)
                ShowBox(title, text, icon);
            {
                std::lock_guard<std::mutex> lock(g_mutex);
                request->done = true;
            }
            g_changed.notify_all();
        },
        Qt::QueuedConnection);
    std::unique_lock<std::mutex> lock(g_mutex);
    g_changed.wait(lock, [&] { return request->done || request->released; });
    g_pending.remove(request);
}

}  // namespace

void InstallGuiMessageBoxes() {
    SetMessageBoxHook(&ShowFromAnyThread);
}

void ReleasePendingMessageBoxes() {
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        for (auto& request : g_pending)
            request->released = true;
    }
    g_changed.notify_all();
}

}  // namespace tandril
