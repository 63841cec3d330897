#pragma once

#include <QComboBox>
#include <QPixmap>
#include <QRadioButton>
#include <QString>

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

// A read-only edit box without a border: a readout the program rewrites often.
// It shows its text, takes the focus in tab order (its text then shows
// selected), and copies the text with the copy key; it cannot be edited. Each
// text is drawn from a picture kept per text, as the box shows the same few
// texts again and again and laying a text out anew is most of a line edit's
// cost. The pictures are shared by all boxes and dialogs of the application.
class ReadOnlyTextBox final : public QWidget {
    Q_OBJECT
public:
    ReadOnlyTextBox(Qt::Alignment alignment, QWidget* parent);

    const QString& text() const { return text_; }
    // Replaces the whole text; the box repaints at the next update or repaint.
    void setText(const QString& text);

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    QPixmap Draw(bool selected) const;

    QString text_;
    Qt::Alignment alignment_;
    QString fontKey_;  // the font's identity, taken once per font change
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
