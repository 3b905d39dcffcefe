// Tandril: copies a web site into a local directory so that it can be browsed offline.

#include <QApplication>
#include <QIcon>

#include "engine/mirror_job.h"
#include "engine/placement.h"
#include "platform/heap.h"
#include "ui/gui_message_box.h"
#include "ui/main_dlg.h"
#include "ui/resources_init.h"

int main(int argc, char** argv) {
    tandril::RetainFreedHeapMemory();
    QApplication app(argc, argv);
    QApplication::setOrganizationName("Orvello");
    QApplication::setApplicationName("Tandril");
    tandril::InitResources();
    QApplication::setWindowIcon(QIcon(":/tandril.png"));
    tandril::InstallGuiMessageBoxes();

    tandril::CMirrorJob job;
    std::string lastRunDir;
    {
        tandril::CMainDlg dialog(job);
        // "tandril URL": a browser's "open with" or a .desktop action.
        const QStringList arguments = QApplication::arguments();
        if (arguments.size() >= 2 && !arguments[1].startsWith('-'))
            dialog.SetStartUrl(arguments[1]);
        dialog.exec();
        lastRunDir = dialog.LastRunDirectory();
    }  // the settings are saved as the dialog goes
    tandril::DeleteTemporaryFiles(lastRunDir);
    return 0;
}
