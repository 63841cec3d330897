#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "afx/Dialog.h"
#include "afx/MessageMap.h"
#include "base/Clock.h"
#include "lcd/ModuleDriver.h"
#include "lcd/TestRun.h"
#include "lcd/Verify.h"
#include "port/LinePanel.h"
#include "port/LineView.h"

// Where a minimised window draws its icon: centred in the client area, in
// signed arithmetic that truncates toward zero.
struct IconOrigin {
    int x, y;
};
IconOrigin MinimisedIconOrigin(int clientWidth, int clientHeight, int iconWidth, int iconHeight);

// The main dialog: module size, port, four line boxes, the line panel with its
// readouts, and the two test runs. It is the line state's mirror (LineView) and
// what a test run reads (TestRunSource); the line operations are LinePanel's.
class CLcdTestDlg : public CDialog, private LineView, public LinePanel, private TestRunSource {
public:
    explicit CLcdTestDlg(CWnd* pParent = nullptr);

    static const MessageMapEntry<CLcdTestDlg> kMessageMap[31];

    // Told after each close-up of the Size list with a valid size, and of the
    // Port list with the new port base; for views beside the dialog.
    std::function<void(int sizeIndex)> m_onSizeChosen;
    std::function<void(std::uint32_t portBase)> m_onPortChosen;
    // Told after each Verify (system menu), with its result.
    std::function<void(const VerifyResult&)> m_onVerified;
    // Runs detection of I2C backpacks (system menu); the entry is there only
    // where this is set before the dialog starts.
    std::function<void()> m_onDetect;

    // Reads the module back and compares it with the last run; the result goes
    // to the notice line and to m_onVerified.
    VerifyResult Verify();

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;
    void OnOK() override;
    bool OnWndMsg(const Message& msg, LRESULT& result) override;

    void OnSysCommand(UINT nID, LPARAM lParam);
    void OnPaint();
    HICON OnQueryDragIcon();
    void OnInit8Bit();
    void OnInit4Bit();
    void OnCloseupSize();
    void OnCloseupPort();

private:
    void AfterRun(const std::string& refusal, bool wentThrough);

    // LineView
    void SetLineCheck(int buttonId, bool checked) override;
    void ShowReadouts(const Readouts& readouts) override;
    int PortSelection() const override;
    // TestRunSource
    int SizeSelection() const override;
    std::string LineBoxText(int lineBoxId) const override;

    const CEdit& LineBox(int lineBoxId) const;

    CEdit m_hexReadout;
    CEdit m_decReadout;
    CEdit m_charReadout;
    CButton m_d0Low;
    CButton m_d0High;
    CButton m_d1Low;
    CButton m_d1High;
    CButton m_d2Low;
    CButton m_d2High;
    CButton m_d3Low;
    CButton m_d3High;
    CButton m_d4Low;
    CButton m_d4High;
    CButton m_d5Low;
    CButton m_d5High;
    CButton m_d6Low;
    CButton m_d6High;
    CButton m_d7Low;
    CButton m_d7High;
    CButton m_rwLow;
    CButton m_rwHigh;
    CButton m_rsLow;
    CButton m_rsHigh;
    CButton m_e1Low;
    CButton m_e1High;
    CButton m_e0Low;
    CButton m_e0High;
    CComboBox m_size;
    CComboBox m_port;
    CEdit m_line4;
    CEdit m_line3;
    CEdit m_line2;
    CEdit m_line1;
    HICON m_hIcon;

    Clock& m_clock;
    ModuleDriver m_driver;
    TestRunRecord m_lastRun;    // what the last Init sent, for Verify
    std::string m_lastRefusal;  // why the last refused run or Verify was refused
};
