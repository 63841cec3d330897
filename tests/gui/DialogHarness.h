#pragma once

#include <QApplication>
#include <QComboBox>
#include <QTest>
#include <QTimer>
#include <functional>

#include "afx/Dialog.h"
#include "afx/DialogWindow.h"
#include "base/Clock.h"
#include "support/BusTimeline.h"

// Makes `window` the active window before the next line runs: the activation
// arrives as a window-system event, which this delivers.
inline void ActivateNow(QWidget& window) {
    window.activateWindow();
    QApplication::processEvents();
}

// What a dialog run returns when the test body left it open.
inline constexpr INT_PTR kLeftOpen = -2;

// Runs `body` inside the dialog's modal loop once the dialog is up, then ends
// the dialog if the body did not, so a failing body never hangs the test.
template <class Dialog>
INT_PTR RunModal(Dialog& dlg, const std::function<void(Dialog&)>& body) {
    dlg.m_onShown = [&](CDialog&) {
        QTimer::singleShot(0, [&] {
            if (QWidget* w = dlg.Window()) ActivateNow(*w);
            body(dlg);
            if (dlg.Window() && dlg.Window()->isVisible())
                dlg.EndDialog(static_cast<int>(kLeftOpen));
        });
    };
    return dlg.DoModal();
}

// The same on a dialog of its own.
template <class Dialog>
INT_PTR RunModal(const std::function<void(Dialog&)>& body) {
    Dialog dlg;
    return RunModal(dlg, body);
}

// A fresh port, line state and virtual time line for each dialog test.
struct DialogFixtureBase {
    BusTimeline timeline;
    ScopedClock useClock{timeline};
};

inline void Click(CDialog& dlg, int id) {
    QTest::mouseClick(dlg.ControlWidget(id), Qt::LeftButton);
}

// Selects a list entry and delivers the close-up report the dialog acts on.
inline void ChooseList(CDialog& dlg, int id, int entry) {
    qobject_cast<QComboBox*>(dlg.ControlWidget(id))->setCurrentIndex(entry);
    dlg.SendCommand(CBN_CLOSEUP, id);
}
