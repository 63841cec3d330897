#pragma once

#include "afx/Dialog.h"

// The About box: program name and version, the maker's notice, and what this
// build needs to reach a real parallel port.
class CAboutDlg : public CDialog {
public:
    CAboutDlg();

protected:
    void DoDataExchange(CDataExchange* pDX) override;
};
