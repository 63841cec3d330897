#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>

#include "afx/Afx.h"
#include "afx/DialogTemplate.h"
#include "afx/Wnd.h"

class CDialog;
class DialogWindow;
class QIcon;
class QPainter;
class QPaintEvent;

// The direction of a data exchange. Binding happens in either direction.
struct CDataExchange {
    BOOL m_bSaveAndValidate;
    CDialog* m_pDlgWnd;
};

// Binds `control` to the dialog's control `id`, once: a control already bound
// is left alone.
void DDX_Control(CDataExchange* pDX, int id, CWnd& control);

// A dialog built from a template and run modally. Every notification of its
// controls, every system command and paint request reaches OnWndMsg one at a
// time on the calling thread; a derived class routes them through its message
// map and passes the rest to this class.
class CDialog : public CWnd {
public:
    explicit CDialog(int templateId, CWnd* parent = nullptr);
    ~CDialog() override;

    // Creates the window from the template, initialises it, shows it and runs
    // until EndDialog. Returns the result given to EndDialog, or -1 when the
    // template is unknown.
    virtual INT_PTR DoModal();
    void EndDialog(int result);

    // Sends a message to the dialog as the platform would, and returns its result.
    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
    // Sends a control notification (WM_COMMAND with the code and identifier).
    void SendCommand(UINT code, int id);

    virtual bool OnWndMsg(const Message& msg, LRESULT& result);

    // The live window while the dialog runs (for tests and the framework).
    DialogWindow* Window() const;
    QWidget* ControlWidget(int id) const;

    // Called right after OnInitDialog, before the dialog is shown; lets
    // start-up code attach views to a running dialog.
    std::function<void(CDialog&)> m_onShown;

    // Shows a line of the framework's own in the template's notice
    // control (hardware not reached, for example). Kept until the next one.
    void ShowPlatformNotice(const std::string& text);
    // Puts the template's own text back on the notice line.
    void ClearPlatformNotice() { ShowPlatformNotice(""); }
    // What the notice line shows of the framework's own; "" for the template's text.
    const std::string& PlatformNotice() const { return pendingNotice_; }

protected:
    virtual BOOL OnInitDialog();
    virtual void OnOK();
    virtual void OnCancel();
    virtual void DoDataExchange(CDataExchange* pDX);
    BOOL UpdateData(BOOL saveAndValidate = TRUE);

    // Default processing of the message being handled: normal painting, the
    // platform's own system commands (close gives Cancel).
    void Default();

    // Checks or unchecks a button of the dialog, without notification.
    void CheckDlgButton(int id, UINT check);
    CMenu* GetSystemMenu(BOOL revert);
    void SetIcon(HICON icon, BOOL bigIcon);
    BOOL IsIconic() const;
    void GetClientRect(CRect* rect) const;

private:
    friend class DialogWindow;
    friend class CPaintDC;
    friend void DDX_Control(CDataExchange* pDX, int id, CWnd& control);

    // Hands one message to OnWndMsg with its default processing at hand.
    LRESULT Dispatch(const Message& msg, std::function<void()> defaultAction);
    std::function<void()> DefaultActionFor(const Message& msg);
    void DispatchPaint(QPaintEvent* event);

    int templateId_;
    CWnd* parent_;
    DialogWindow* window_ = nullptr;
    std::unique_ptr<CMenu> systemMenu_;
    std::function<void()> defaultAction_;
    std::string pendingNotice_;
};

// Painting inside a paint request.
class CPaintDC {
public:
    explicit CPaintDC(CDialog* dialog);
    ~CPaintDC();
    CPaintDC(const CPaintDC&) = delete;
    CPaintDC& operator=(const CPaintDC&) = delete;
    void DrawIcon(int x, int y, HICON icon);
    void EraseBackground();

private:
    std::unique_ptr<QPainter> painter_;
};

int GetSystemMetrics(int index);

// Loads an icon resource; nullptr when it has no image.
HICON LoadIconResource(int id);
// Loads a string resource; empty when there is none.
std::string LoadStringResource(int id);
