#include "app/LcdTestApp.h"

#include "ui/LcdTestDlg.h"

CLcdTestApp theApp;

const MessageMapEntry<CLcdTestApp> CLcdTestApp::kMessageMap[1] = {
    OnCommand<CLcdTestApp, &CLcdTestApp::OnHelp>(0, ID_HELP),
};

bool CLcdTestApp::OnCmdMsg(const Message& msg) {
    LRESULT ignored = 0;
    return RouteThroughMap<CLcdTestApp>(*this, kMessageMap, msg, ignored);
}

BOOL CLcdTestApp::InitInstance() {
    CLcdTestDlg dlg;
    m_pMainWnd = &dlg;
    if (m_prepareDialog) m_prepareDialog(dlg);
    // OK, Cancel and a failure to create the dialog all end the program alike.
    dlg.DoModal();
    m_pMainWnd = nullptr;
    return FALSE;
}
