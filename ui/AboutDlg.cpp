#include "ui/AboutDlg.h"

#include "res/Resource.h"

CAboutDlg::CAboutDlg() : CDialog(IDD_ABOUTBOX) {}

// Binds nothing: every control of the box is static.
void CAboutDlg::DoDataExchange(CDataExchange*) {}
