#include "afx/SteadyCursor.h"

#include <QApplication>
#include <QEvent>
#include <QLineEdit>

namespace {

class SteadyCursor final : public QObject {
public:
    explicit SteadyCursor(QLineEdit* edit) : QObject(edit), edit_(edit) {
        edit->installEventFilter(this);
        connect(edit, &QLineEdit::textChanged, this, &SteadyCursor::Update);
    }
    ~SteadyCursor() override { Steady(false); }

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut) {
            focused_ = event->type() == QEvent::FocusIn;
            Update();
        }
        return false;
    }

private:
    void Update() { Steady(focused_ && edit_->text().size() > kSteadyCursorChars); }

    void Steady(bool steady) {
        if (steady == steady_) return;
        steady_ = steady;
        if (steady) blinkMs_ = QApplication::cursorFlashTime();
        QApplication::setCursorFlashTime(steady ? 0 : blinkMs_);
    }

    QLineEdit* edit_;
    bool focused_ = false;
    bool steady_ = false;
    int blinkMs_ = 0;
};

}  // namespace

void KeepCursorSteadyOnLongText(QLineEdit* edit) {
    new SteadyCursor(edit);
}
