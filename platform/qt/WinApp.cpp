#include "platform/qt/WinApp.h"

#include "platform/qt/Dialog.h"

namespace {
CWinApp* g_app = nullptr;
constexpr char kNoHelp[] = "No help file is installed; the README describes the tool.";
}  // namespace

CWinApp::CWinApp() { g_app = this; }

CWinApp::~CWinApp() {
    if (g_app == this) g_app = nullptr;
}

void CWinApp::OnHelp() {
    if (auto* dialog = dynamic_cast<CDialog*>(m_pMainWnd)) dialog->ShowPlatformNotice(kNoHelp);
}

CWinApp* AfxGetApp() { return g_app; }

int AfxWinMain() {
    if (CWinApp* app = AfxGetApp()) app->InitInstance();
    // The program sets no exit status of its own.
    return 0;
}
