#include "app/DialogRun.h"

#include <QString>
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
#include "io/PortIo.h"
#include "lcd/Geometry.h"
#include "port/LineState.h"
#include "sim/ModuleLayout.h"
#include "sim/SimulatedModule.h"
#include "sim/view/ModuleView.h"
#include "ui/LcdTestDlg.h"


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
