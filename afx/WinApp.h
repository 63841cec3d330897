#pragma once

#include "afx/Afx.h"

class CWnd;

// Turns X11 shared-memory images off unless the user chose otherwise. Read when
// the window system starts, so start-up calls it before the QApplication exists.
void PreferPlainXImages();

// The application object: one per process, constructed before start-up, and so
// before the window system starts. Start-up runs InitInstance once; its result
// decides nothing but the end.
class CWinApp {
public:
    CWinApp();
    virtual ~CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    virtual BOOL InitInstance() { return FALSE; }
    // Commands that no window handled (the Help command, for one).
    virtual bool OnCmdMsg(const Message&) { return false; }

    CWnd* m_pMainWnd = nullptr;

protected:
    // The framework's help handler. There is no help file; say so plainly.
    void OnHelp();
};

CWinApp* AfxGetApp();

// Start-up: runs the application object's InitInstance and returns the exit status.
int AfxWinMain();
