#include "afx/WinApp.h"

#include <QtGlobal>
#include <cstdio>

#include "afx/Dialog.h"

namespace {
CWinApp* g_app = nullptr;
constexpr char kNoHelp[] = "No help file is installed; the README describes the tool.";

// Read once, when the X11 connection opens; its presence turns shared memory off.
constexpr char kNoXShmVariable[] = "QT_XCB_NO_MITSHM";
}  // namespace

// With shared memory, each repaint that touches what the previous one handed to
// the X server first waits for the server to finish with it: a round trip per
// readout repaint during a test run. Plain image requests need no wait, and the
// dialog's repaints are small. A value the user set is left as it is.
void PreferPlainXImages() {
    if (qEnvironmentVariableIsSet(kNoXShmVariable)) return;
    if (!qputenv(kNoXShmVariable, "1"))
        std::fprintf(stderr, "lcdtest: cannot set %s; repaints on X11 may be slower\n",
                     kNoXShmVariable);
}

CWinApp::CWinApp() {
    g_app = this;
}

CWinApp::~CWinApp() {
    if (g_app == this) g_app = nullptr;
}

void CWinApp::OnHelp() {
    if (auto* dialog = dynamic_cast<CDialog*>(m_pMainWnd)) dialog->ShowPlatformNotice(kNoHelp);
}

CWinApp* AfxGetApp() {
    return g_app;
}

int AfxWinMain() {
    if (CWinApp* app = AfxGetApp()) app->InitInstance();
    // The program sets no exit status of its own.
    return 0;
}
