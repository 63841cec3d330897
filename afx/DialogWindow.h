#pragma once

#include <QDialog>
#include <map>

#include "afx/DialogTemplate.h"

class CDialog;
class QLabel;
class QMenu;

// The window of a running CDialog: builds the template's controls in
// template order (so creation and tab order follow the template) and turns Qt
// events into the dialog's messages.
class DialogWindow final : public QDialog {
    Q_OBJECT
public:
    DialogWindow(CDialog& owner, const DialogTemplate& dialogTemplate, QWidget* parent);

    QWidget* Control(int id) const;
    QWidget* FirstTabStop() const { return firstTabStop_; }
    QLabel* Notice() const { return notice_; }
    // Shows `text` on the notice line, wrapped over as many lines as it takes:
    // the line and the window grow downward for it, and shrink back for a
    // shorter one. An empty text puts the template's own text back.
    void ShowNotice(const QString& text);
    QMenu* SystemMenu() const { return systemMenu_; }
    // Opens the system menu at a global position.
    void PopUpSystemMenu(const QPoint& globalPos);
    // Lets the next close request end the window instead of asking the dialog.
    void AllowClose() { ending_ = true; }

    void CallBasePaint(QPaintEvent* event) { QDialog::paintEvent(event); }

protected:
    void reject() override;
    void closeEvent(QCloseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* CreateControl(const ControlTemplate& control);

    CDialog& owner_;
    DialogUnits units_;
    std::map<int, QWidget*> controls_;
    QWidget* firstTabStop_ = nullptr;
    QLabel* notice_ = nullptr;
    QString noticeText_;  // the template's
    int noticeHeight_ = 0;
    int height_ = 0;  // the template's height of the window
    QWidget* picture_ = nullptr;
    QMenu* systemMenu_;
    bool ending_ = false;
};
