#include "afx/Dialog.h"

#include <QFile>
#include <QIcon>
#include <QLabel>
#include <QPainter>
#include <QWindow>
#include <map>
#include <utility>

#include "afx/DialogWindow.h"
#include "afx/WinApp.h"

namespace {
constexpr int kStandardIconPixels = 32;
}  // namespace

void DDX_Control(CDataExchange* pDX, int id, CWnd& control) {
    if (control.IsBound()) return;
    if (QWidget* w = pDX->m_pDlgWnd->ControlWidget(id)) control.Attach(w, id);
}

CDialog::CDialog(int templateId, CWnd* parent) : templateId_(templateId), parent_(parent) {}

CDialog::~CDialog() = default;

INT_PTR CDialog::DoModal() {
    const DialogTemplate* dialogTemplate = FindDialogTemplate(templateId_);
    if (!dialogTemplate) return -1;
    QWidget* parentWidget = parent_ ? parent_->Widget() : nullptr;
    if (!parentWidget) {
        // A dialog run from another one belongs to the application's main window.
        CWinApp* app = AfxGetApp();
        if (app && app->m_pMainWnd && app->m_pMainWnd != this)
            parentWidget = app->m_pMainWnd->Widget();
    }
    DialogWindow window(*this, *dialogTemplate, parentWidget);
    window_ = &window;
    Attach(&window, templateId_);
    OnInitDialog();
    if (!pendingNotice_.empty()) ShowPlatformNotice(pendingNotice_);
    if (m_onShown) m_onShown(*this);
    // Modal from the moment it shows: the window it belongs to takes no input.
    window.setWindowModality(Qt::ApplicationModal);
    window.show();
    if (QWidget* first = window.FirstTabStop()) first->setFocus(Qt::TabFocusReason);
    const int result = window.exec();
    window_ = nullptr;
    systemMenu_.reset();
    return result;
}

void CDialog::EndDialog(int result) {
    if (!window_) return;
    window_->AllowClose();
    window_->done(result);
}

DialogWindow* CDialog::Window() const {
    return window_;
}

QWidget* CDialog::ControlWidget(int id) const {
    return window_ ? window_->Control(id) : nullptr;
}

LRESULT CDialog::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    const Message msg{message, 0, 0, wParam, lParam};
    return Dispatch(msg, DefaultActionFor(msg));
}

void CDialog::SendCommand(UINT code, int id) {
    const Message msg{WM_COMMAND, code, id, 0, 0};
    Dispatch(msg, DefaultActionFor(msg));
}

LRESULT CDialog::Dispatch(const Message& msg, std::function<void()> defaultAction) {
    std::function<void()> outer = std::exchange(defaultAction_, std::move(defaultAction));
    LRESULT result = 0;
    if (!OnWndMsg(msg, result)) Default();
    defaultAction_ = std::move(outer);
    return result;
}

std::function<void()> CDialog::DefaultActionFor(const Message& msg) {
    if (msg.message == WM_SYSCOMMAND) {
        const UINT command = static_cast<UINT>(msg.wParam) & kSystemCommandMask;
        if (command == SC_CLOSE) return [this] { SendCommand(BN_CLICKED, IDCANCEL); };
        if (command == SC_MOVE)
            return [this] {
                if (window_ && window_->windowHandle()) window_->windowHandle()->startSystemMove();
            };
    }
    if (msg.message == WM_ICONERASEBKGND) {
        return [dc = reinterpret_cast<CPaintDC*>(msg.wParam)] {
            if (dc) dc->EraseBackground();
        };
    }
    return {};
}

void CDialog::DispatchPaint(QPaintEvent* event) {
    Dispatch({WM_PAINT, 0, 0, 0, 0}, [this, event] { window_->CallBasePaint(event); });
}

bool CDialog::OnWndMsg(const Message& msg, LRESULT&) {
    if (msg.message != WM_COMMAND) return false;
    if (msg.id == IDOK && msg.code == BN_CLICKED) {
        OnOK();
        return true;
    }
    if (msg.id == IDCANCEL && msg.code == BN_CLICKED) {
        OnCancel();
        return true;
    }
    // Commands no dialog handles go on to the application object.
    if (CWinApp* app = AfxGetApp()) return app->OnCmdMsg(msg);
    return false;
}

void CDialog::Default() {
    if (defaultAction_) defaultAction_();
}

BOOL CDialog::OnInitDialog() {
    if (const DialogTemplate* t = FindDialogTemplate(templateId_)) {
        for (const ListEntry& entry : t->listEntries) {
            CComboBox list;
            list.Attach(ControlWidget(entry.controlId), entry.controlId);
            list.AddString(entry.text);
        }
    }
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::OnOK() {
    if (!UpdateData(TRUE)) return;
    EndDialog(IDOK);
}

void CDialog::OnCancel() {
    EndDialog(IDCANCEL);
}

void CDialog::DoDataExchange(CDataExchange*) {}

BOOL CDialog::UpdateData(BOOL saveAndValidate) {
    CDataExchange exchange{saveAndValidate, this};
    DoDataExchange(&exchange);
    return TRUE;
}

void CDialog::CheckDlgButton(int id, UINT check) {
    // Straight to the control: a refresh sets sixteen checks at a time.
    SetButtonCheck(ControlWidget(id), static_cast<int>(check));
}

CMenu* CDialog::GetSystemMenu(BOOL) {
    if (!window_ || !window_->SystemMenu()) return nullptr;
    if (!systemMenu_) systemMenu_ = std::make_unique<CMenu>(window_->SystemMenu());
    return systemMenu_.get();
}

void CDialog::SetIcon(HICON icon, BOOL) {
    // One icon serves both sizes here; the window system picks the image.
    if (window_) window_->setWindowIcon(icon ? *icon : QIcon());
}

BOOL CDialog::IsIconic() const {
    return window_ && window_->isMinimized() ? TRUE : FALSE;
}

void CDialog::GetClientRect(CRect* rect) const {
    if (!rect) return;
    *rect = {};
    if (window_) *rect = {0, 0, window_->width(), window_->height()};
}

void CDialog::ShowPlatformNotice(const std::string& text) {
    pendingNotice_ = text;
    if (window_) window_->ShowNotice(FromSingleByte(text));
}

CPaintDC::CPaintDC(CDialog* dialog) {
    if (dialog && dialog->window_) painter_ = std::make_unique<QPainter>(dialog->window_);
}

CPaintDC::~CPaintDC() = default;

void CPaintDC::DrawIcon(int x, int y, HICON icon) {
    if (painter_ && icon) painter_->drawPixmap(x, y, icon->pixmap(kStandardIconPixels));
}

void CPaintDC::EraseBackground() {
    if (!painter_) return;
    auto* widget = static_cast<QWidget*>(painter_->device());
    painter_->fillRect(widget->rect(), widget->palette().window());
}

int GetSystemMetrics(int index) {
    return index == SM_CXICON || index == SM_CYICON ? kStandardIconPixels : 0;
}

HICON LoadIconResource(int id) {
    static std::map<int, QIcon> cache;
    LoadImageResources();
    auto it = cache.find(id);
    if (it == cache.end()) {
        QIcon icon;
        for (int size : {16, 32, 48}) {
            const QString path = QStringLiteral(":/icons/%1-%2.png").arg(id).arg(size);
            if (QFile::exists(path)) icon.addFile(path, QSize(size, size));
        }
        it = cache.emplace(id, icon).first;
    }
    return it->second.isNull() ? nullptr : &it->second;
}

std::string LoadStringResource(int id) {
    const char* text = FindStringResource(id);
    return text ? text : "";
}
