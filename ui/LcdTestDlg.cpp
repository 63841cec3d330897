#include "ui/LcdTestDlg.h"

#include "lcd/Geometry.h"
#include "res/Resource.h"
#include "ui/AboutDlg.h"

namespace {
constexpr int kStartPortIndex = 0;
}  // namespace

IconOrigin MinimisedIconOrigin(int clientWidth, int clientHeight, int iconWidth, int iconHeight) {
    // C++ division truncates toward zero, which is what the layout wants for
    // negative offsets too.
    return {(clientWidth - iconWidth + 1) / 2, (clientHeight - iconHeight + 1) / 2};
}

using Dlg = CLcdTestDlg;

const MessageMapEntry<CLcdTestDlg> CLcdTestDlg::kMessageMap[31] = {
    OnMessage<Dlg, &Dlg::OnSysCommand>(WM_SYSCOMMAND),
    OnMessage<Dlg, &Dlg::OnPaint>(WM_PAINT),
    OnMessage<Dlg, &Dlg::OnQueryDragIcon>(WM_QUERYDRAGICON),
    OnCommand<Dlg, &Dlg::OnInit4Bit>(BN_CLICKED, IDC_INIT_4BIT),
    OnCommand<Dlg, &Dlg::OnInit8Bit>(BN_CLICKED, IDC_INIT_8BIT),
    OnCommand<Dlg, &Dlg::OnCloseupSize>(CBN_CLOSEUP, IDC_SIZE),
    OnCommand<Dlg, &Dlg::OnD0High>(BN_CLICKED, IDC_D0_HIGH),
    OnCommand<Dlg, &Dlg::OnD0Low>(BN_CLICKED, IDC_D0_LOW),
    OnCommand<Dlg, &Dlg::OnD1High>(BN_CLICKED, IDC_D1_HIGH),
    OnCommand<Dlg, &Dlg::OnD1Low>(BN_CLICKED, IDC_D1_LOW),
    OnCommand<Dlg, &Dlg::OnD2High>(BN_CLICKED, IDC_D2_HIGH),
    OnCommand<Dlg, &Dlg::OnD2Low>(BN_CLICKED, IDC_D2_LOW),
    OnCommand<Dlg, &Dlg::OnD3High>(BN_CLICKED, IDC_D3_HIGH),
    OnCommand<Dlg, &Dlg::OnD3Low>(BN_CLICKED, IDC_D3_LOW),
    OnCommand<Dlg, &Dlg::OnD4High>(BN_CLICKED, IDC_D4_HIGH),
    OnCommand<Dlg, &Dlg::OnD4Low>(BN_CLICKED, IDC_D4_LOW),
    OnCommand<Dlg, &Dlg::OnD5High>(BN_CLICKED, IDC_D5_HIGH),
    OnCommand<Dlg, &Dlg::OnD5Low>(BN_CLICKED, IDC_D5_LOW),
    OnCommand<Dlg, &Dlg::OnD6High>(BN_CLICKED, IDC_D6_HIGH),
    OnCommand<Dlg, &Dlg::OnD6Low>(BN_CLICKED, IDC_D6_LOW),
    OnCommand<Dlg, &Dlg::OnD7High>(BN_CLICKED, IDC_D7_HIGH),
    OnCommand<Dlg, &Dlg::OnD7Low>(BN_CLICKED, IDC_D7_LOW),
    OnCommand<Dlg, &Dlg::OnE0High>(BN_CLICKED, IDC_E0_HIGH),
    OnCommand<Dlg, &Dlg::OnE0Low>(BN_CLICKED, IDC_E0_LOW),
    OnCommand<Dlg, &Dlg::OnE1High>(BN_CLICKED, IDC_E1_HIGH),
    OnCommand<Dlg, &Dlg::OnE1Low>(BN_CLICKED, IDC_E1_LOW),
    OnCommand<Dlg, &Dlg::OnRSHigh>(BN_CLICKED, IDC_RS_HIGH),
    OnCommand<Dlg, &Dlg::OnRSLow>(BN_CLICKED, IDC_RS_LOW),
    OnCommand<Dlg, &Dlg::OnRWHigh>(BN_CLICKED, IDC_RW_HIGH),
    OnCommand<Dlg, &Dlg::OnRWLow>(BN_CLICKED, IDC_RW_LOW),
    OnCommand<Dlg, &Dlg::OnCloseupPort>(CBN_CLOSEUP, IDC_PORT),
};

CLcdTestDlg::CLcdTestDlg(CWnd* pParent)
    : CDialog(IDD_LCDTEST_DIALOG, pParent),
      LinePanel(static_cast<LineView&>(*this)),
      m_hIcon(LoadIconResource(IDR_MAINFRAME)),
      m_clock(TheClock()),
      m_driver(*this, m_clock) {}

void CLcdTestDlg::DoDataExchange(CDataExchange* pDX) {
    DDX_Control(pDX, IDC_HEX, m_hexReadout);
    DDX_Control(pDX, IDC_DEC, m_decReadout);
    DDX_Control(pDX, IDC_CHAR, m_charReadout);
    DDX_Control(pDX, IDC_D0_LOW, m_d0Low);
    DDX_Control(pDX, IDC_D0_HIGH, m_d0High);
    DDX_Control(pDX, IDC_D1_LOW, m_d1Low);
    DDX_Control(pDX, IDC_D1_HIGH, m_d1High);
    DDX_Control(pDX, IDC_D2_LOW, m_d2Low);
    DDX_Control(pDX, IDC_D2_HIGH, m_d2High);
    DDX_Control(pDX, IDC_D3_LOW, m_d3Low);
    DDX_Control(pDX, IDC_D3_HIGH, m_d3High);
    DDX_Control(pDX, IDC_D4_LOW, m_d4Low);
    DDX_Control(pDX, IDC_D4_HIGH, m_d4High);
    DDX_Control(pDX, IDC_D5_LOW, m_d5Low);
    DDX_Control(pDX, IDC_D5_HIGH, m_d5High);
    DDX_Control(pDX, IDC_D6_LOW, m_d6Low);
    DDX_Control(pDX, IDC_D6_HIGH, m_d6High);
    DDX_Control(pDX, IDC_D7_LOW, m_d7Low);
    DDX_Control(pDX, IDC_D7_HIGH, m_d7High);
    DDX_Control(pDX, IDC_RW_LOW, m_rwLow);
    DDX_Control(pDX, IDC_RW_HIGH, m_rwHigh);
    DDX_Control(pDX, IDC_RS_LOW, m_rsLow);
    DDX_Control(pDX, IDC_RS_HIGH, m_rsHigh);
    DDX_Control(pDX, IDC_E1_LOW, m_e1Low);
    DDX_Control(pDX, IDC_E1_HIGH, m_e1High);
    DDX_Control(pDX, IDC_E0_LOW, m_e0Low);
    DDX_Control(pDX, IDC_E0_HIGH, m_e0High);
    DDX_Control(pDX, IDC_SIZE, m_size);
    DDX_Control(pDX, IDC_PORT, m_port);
    DDX_Control(pDX, IDC_LINE4, m_line4);
    DDX_Control(pDX, IDC_LINE3, m_line3);
    DDX_Control(pDX, IDC_LINE2, m_line2);
    DDX_Control(pDX, IDC_LINE1, m_line1);
}

bool CLcdTestDlg::OnWndMsg(const Message& msg, LRESULT& result) {
    return RouteThroughMap<CLcdTestDlg>(*this, kMessageMap, msg, result) ||
           CDialog::OnWndMsg(msg, result);
}

BOOL CLcdTestDlg::OnInitDialog() {
    CDialog::OnInitDialog();

    if (CMenu* pSysMenu = GetSystemMenu(FALSE)) {
        // Verify sits with the window's own entries, so the template's About
        // entry stays last after its separator.
        const std::string verifyMenu = LoadStringResource(IDS_VERIFY);
        if (!verifyMenu.empty()) pSysMenu->AppendMenu(MF_STRING, IDM_VERIFY, verifyMenu.c_str());
        const std::string detectMenu = LoadStringResource(IDS_DETECT);
        if (m_onDetect && !detectMenu.empty())
            pSysMenu->AppendMenu(MF_STRING, IDM_DETECT, detectMenu.c_str());
        const std::string aboutMenu = LoadStringResource(IDS_ABOUTBOX);
        if (!aboutMenu.empty()) {
            pSysMenu->AppendMenu(MF_SEPARATOR);
            pSysMenu->AppendMenu(MF_STRING, IDM_ABOUTBOX, aboutMenu.c_str());
        }
    }

    SetIcon(m_hIcon, TRUE);
    SetIcon(m_hIcon, FALSE);

    const CFont* fixed = GetStockObject(ANSI_FIXED_FONT);
    for (CEdit* box : {&m_line1, &m_line2, &m_line3, &m_line4}) box->SetFont(fixed);

    m_port.SetCurSel(kStartPortIndex);
    OnCloseupPort();
    ReturnToRest();

    m_size.SetCurSel(kSize16x2);
    OnCloseupSize();
    return TRUE;
}

void CLcdTestDlg::OnOK() {
    CDialog::OnOK();
}

void CLcdTestDlg::OnSysCommand(UINT nID, LPARAM) {
    if ((nID & kSystemCommandMask) == IDM_ABOUTBOX) {
        CAboutDlg dlgAbout;
        dlgAbout.DoModal();
    } else if ((nID & kSystemCommandMask) == IDM_VERIFY) {
        Verify();
    } else if ((nID & kSystemCommandMask) == IDM_DETECT && m_onDetect) {
        m_onDetect();
    } else {
        Default();
    }
}

void CLcdTestDlg::OnPaint() {
    if (!IsIconic()) {
        Default();
        return;
    }
    CPaintDC dc(this);
    SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(&dc), 0);
    CRect rect;
    GetClientRect(&rect);
    const IconOrigin origin = MinimisedIconOrigin(
        rect.Width(), rect.Height(), GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON));
    dc.DrawIcon(origin.x, origin.y, m_hIcon);
}

HICON CLcdTestDlg::OnQueryDragIcon() {
    return m_hIcon;
}

void CLcdTestDlg::OnInit8Bit() {
    m_lastRun = RunDisplayTest(m_driver, *this, m_clock, BusWidth::Eight, *this);
    AfterRun(m_lastRun.refusal,
             IsModuleSizeIndex(m_lastRun.sizeIndex) && m_lastRun.stopped.empty());
}

void CLcdTestDlg::OnInit4Bit() {
    m_lastRun = RunDisplayTest(m_driver, *this, m_clock, BusWidth::Four, *this);
    AfterRun(m_lastRun.refusal,
             IsModuleSizeIndex(m_lastRun.sizeIndex) && m_lastRun.stopped.empty());
}

VerifyResult CLcdTestDlg::Verify() {
    const VerifyResult result = VerifyModule(m_driver, *this, m_clock, m_lastRun);
    const bool refused = result.outcome == VerifyResult::Outcome::Refused;
    ShowPlatformNotice(result.Summary());
    AfterRun(refused ? result.Summary() : "", false);
    if (m_onVerified) m_onVerified(result);
    return result;
}

// A refusal stays on the notice line until a later run goes through: then the
// line shows the dialog's own text again, unless something else was said since.
void CLcdTestDlg::AfterRun(const std::string& refusal, bool wentThrough) {
    if (!refusal.empty()) {
        m_lastRefusal = refusal;
        return;
    }
    if (wentThrough && !m_lastRefusal.empty() && PlatformNotice() == m_lastRefusal)
        ClearPlatformNotice();
    if (wentThrough) m_lastRefusal.clear();
}

void CLcdTestDlg::OnCloseupSize() {
    const int index = m_size.GetCurSel();
    if (!IsModuleSizeIndex(index)) return;
    const SizeDemo& demo = kSizeDemos[index];
    m_line1.SetWindowText(demo.lineText[0]);
    CEdit* const others[] = {&m_line2, &m_line3, &m_line4};
    for (int n = 1; n < 4; ++n) {
        others[n - 1]->SetWindowText(demo.lineText[n]);
        others[n - 1]->SetReadOnly(demo.lineReadOnly[n]);
    }
    m_e1Low.EnableWindow(demo.e1Enabled);
    m_e1High.EnableWindow(demo.e1Enabled);
    if (m_onSizeChosen) m_onSizeChosen(index);
}

void CLcdTestDlg::OnCloseupPort() {
    LinePanel::OnCloseupPort();
    if (m_onPortChosen) m_onPortChosen(g_lines.portBase);
}

void CLcdTestDlg::SetLineCheck(int buttonId, bool checked) {
    CheckDlgButton(buttonId, checked ? BST_CHECKED : BST_UNCHECKED);
}

void CLcdTestDlg::ShowReadouts(const Readouts& readouts) {
    m_decReadout.SetWindowText(readouts.decimal);
    m_hexReadout.SetWindowText(readouts.hexadecimal);
    m_charReadout.SetWindowText(readouts.character);
    // All three in one pass: each pass on X11 hands the window to the X server,
    // a system call and a wake-up of the server, on every data byte of a run.
    UpdateWindows({&m_decReadout, &m_hexReadout, &m_charReadout});
}

int CLcdTestDlg::PortSelection() const {
    return m_port.GetCurSel();
}

int CLcdTestDlg::SizeSelection() const {
    return m_size.GetCurSel();
}

const CEdit& CLcdTestDlg::LineBox(int lineBoxId) const {
    switch (lineBoxId) {
        case IDC_LINE2:
            return m_line2;
        case IDC_LINE3:
            return m_line3;
        case IDC_LINE4:
            return m_line4;
        default:
            return m_line1;
    }
}

std::string CLcdTestDlg::LineBoxText(int lineBoxId) const {
    return LineBox(lineBoxId).GetWindowText();
}
