#pragma once

#include <QComboBox>
#include <QRadioButton>

// A radio button that never checks itself: a click only notifies, and the
// program sets every check.
class PlainRadioButton final : public QRadioButton {
    Q_OBJECT
public:
    explicit PlainRadioButton(QWidget* parent);

protected:
    void nextCheckState() override {}
    // Draws the style's own picture of the button's current look, drawn once per
    // look and kept: a test run rechecks these buttons at every line change.
    void paintEvent(QPaintEvent* event) override;
    // Without a text the whole control is the click target, not just the circle.
    bool hitButton(const QPoint& pos) const override { return rect().contains(pos); }
};

// A drop-down list that reports each closing of its drop-down part, however
// it closes (Enter, Escape, a click on an item or outside), and only then. The
// report comes after the list has taken the chosen item.
class CloseUpComboBox final : public QComboBox {
    Q_OBJECT
public:
    explicit CloseUpComboBox(QWidget* parent);

signals:
    void closedUp();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* popup_;
};
