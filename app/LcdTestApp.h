#pragma once

#include <functional>

#include "afx/MessageMap.h"
#include "afx/WinApp.h"

class CLcdTestDlg;

// The application: runs the main dialog once, and the program ends with it.
class CLcdTestApp : public CWinApp {
public:
    BOOL InitInstance() override;
    bool OnCmdMsg(const Message& msg) override;

    static const MessageMapEntry<CLcdTestApp> kMessageMap[1];

    // Start-up's chance to connect views to the dialog before it runs.
    std::function<void(CLcdTestDlg&)> m_prepareDialog;
};

extern CLcdTestApp theApp;
