#include "app/DialogRun.h"

#include <QApplication>
#include <QInputDialog>
#include <QMessageBox>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <cstdio>
#include <memory>
#include <string>

#include "afx/DialogWindow.h"
#include "afx/WinApp.h"
#include "app/Display.h"
#include "app/ExitStatus.h"
#include "app/LcdTestApp.h"
#include "app/PortSession.h"
#include "base/Clock.h"
#include "base/HexText.h"
#include "io/PortIo.h"
#include "lcd/Detect.h"
#include "lcd/Geometry.h"
#include "port/LineState.h"
#include "sim/ModuleLayout.h"
#include "sim/SimulatedModule.h"
#include "sim/view/ModuleView.h"
#include "ui/LcdTestDlg.h"

namespace {

// "Find I2C backpacks" from the system menu: detection on the session's
// kernel, its findings listed, and the one the user picks taken for the Port
// list entry selected now.
void FindBackpacks(CLcdTestDlg& dlg, PortSession& session) {
    QWidget* window = dlg.Window();
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const DetectReport report = DetectModules(session.Kernel(), TheClock(), session.Io().Log());
    QApplication::restoreOverrideCursor();
    const std::uint32_t base = g_lines.portBase;
    QString notes;
    for (const std::string& note : report.notes) notes += QString::fromStdString(note) + "\n";
    const QString title = QStringLiteral("Find I2C backpacks");
    if (report.modules.empty()) {
        QMessageBox::information(window, title,
                                 QStringLiteral("No character module found on %1 I2C bus%2.\n%3")
                                     .arg(report.buses)
                                     .arg(report.buses == 1 ? "" : "es")
                                     .arg(notes));
        return;
    }
    QStringList found;
    for (const FoundModule& module : report.modules)
        found << QString::fromStdString(module.Describe(base));
    bool chosen = false;
    const QString pick = QInputDialog::getItem(
        window, title,
        QStringLiteral("Drive the Port list entry %1 through the module found:\n%2")
            .arg(QString::fromStdString(HexAddress(base)), notes),
        found, 0, false, &chosen);
    if (!chosen) return;
    const FoundModule& module = report.modules[static_cast<std::size_t>(found.indexOf(pick))];
    if (const std::string error = session.Map(base, module.Mapping()); !error.empty()) {
        dlg.ShowPlatformNotice(error);
        return;
    }
    dlg.ShowPlatformNotice(HexAddress(base) + " drives " + module.Mapping() + " now");
}

}  // namespace

int RunDialog(const CommonOptions& options) {
    // The cable starts on the first port of the list, as the dialog does.
    PortSession session(options, PortBaseForSelection(0), TheClock());
    // Returned, not exited, so the toolkit and the module are torn down in order.
    if (!session.Error().empty()) {
        std::fprintf(stderr, "lcdtest: %s\n", session.Error().c_str());
        return kExitUsage;
    }
    std::unique_ptr<ModuleView> view;  // beside the dialog, only for the simulated module
    if (SimulatedModule* module = session.Module())
        view = std::make_unique<ModuleView>(*module, TheClock());

    ProblemLog& log = session.Io().Log();
    theApp.m_prepareDialog = [&](CLcdTestDlg& dlg) {
        log.SetSink([&dlg](const std::string& message) { dlg.ShowPlatformNotice(message); });
        if (!log.Problems().empty()) dlg.ShowPlatformNotice(log.Problems().back());
        dlg.m_onPortChosen = [&](std::uint32_t base) {
            session.AttachToPort(base);
            if (view) view->Refresh();
        };
        dlg.m_onDetect = [&] {
            FindBackpacks(dlg, session);
            if (view) view->Refresh();
        };
        if (!view) return;
        // A module with one controller has nothing on pin 17.
        dlg.m_onSizeChosen = [&](int sizeIndex) {
            session.Module()->SetControllerCount(kModuleGeometry[sizeIndex].controllerCount);
            view->SetSizeIndex(sizeIndex);
        };
        dlg.m_onVerified = [&](const VerifyResult& result) {
            view->SetVerifyResult(QString::fromStdString(result.Summary()));
        };
        // Placed once the dialog is up and its frame is known.
        dlg.m_onShown = [&](CDialog&) {
            QTimer::singleShot(0, view.get(), [&] {
                if (QWidget* window = dlg.Window()) view->ShowBeside(*window);
            });
        };
    };
    const int status = AfxWinMain();
    theApp.m_prepareDialog = {};
    log.SetSink({});
    return session.Finish(status);
}
