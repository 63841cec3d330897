#pragma once

#include <QImage>
#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QSize>
#include <QStringList>
#include <QTimer>
#include <QWidget>
#include <functional>

class Clock;
class SimulatedModule;

// The glass as the view draws it, counted in dots: each character is 5 columns by
// 8 rows of dots, with one dot of bare glass between characters and between rows
// of characters, as on a real module.
inline constexpr int kCharacterDotColumns = 5;
inline constexpr int kCharacterGapDots = 1;
// Pixels per dot, whatever a caller asks for.
inline constexpr int kMinDotPixels = 2;
inline constexpr int kMaxDotPixels = 8;

// The colours of the glass, and of a dot: a lit one, and an unlit one, which
// real glass shows faintly.
inline constexpr QRgb kGlassRgb = qRgb(150, 188, 66);
inline constexpr QRgb kLitDotRgb = qRgb(28, 44, 16);
inline constexpr QRgb kUnlitDotRgb = qRgb(136, 172, 58);
// With the backlight off the glass is dark, and its unlit dots barely show on it.
inline constexpr QRgb kDarkGlassRgb = qRgb(78, 88, 60);
inline constexpr QRgb kDarkUnlitDotRgb = qRgb(70, 80, 54);

// The pixels of dot (dotRow, dotColumn) of the character at (row, column), in an
// image of RenderModule drawn with `dotPixels` (clamped as there) per dot.
QRect DotRect(int row, int column, int dotRow, int dotColumn, int dotPixels);

// Draws the module of size `sizeIndex` (the Size list's order) as its controllers
// show it now: frame, glass, every dot lit or faint, the cursor underline in the
// eighth dot row, and the blinking block when `blinkOn` is the lit phase. Nothing
// is lit while a controller's display is off or on a line it does not drive; the
// glass is dark while the module's backlight is off. A null image for an index
// that is not a size.
QImage RenderModule(const SimulatedModule& module, int sizeIndex, bool blinkOn, int dotPixels);

// The text under the glass: the size, the port the module hangs on, the
// backlight where something switches it, and how the module hangs there (E1
// straight to pin 17 or through an inverter, a backpack's wiring), then per controller the size
// uses its bus width, line mode and timing violations (and the bus rules' counts
// once one was broken), with the last violation's description on a line of its
// own when there is one; last the injected wiring fault, when there is one.
QStringList ModuleStatusLines(const SimulatedModule& module, int sizeIndex);

// Where the view goes beside the dialog without covering it, and at what dot size:
// to the dialog's right if the view fits there at some dot size (the largest that
// fits, from `largestDotPixels` down to kMinDotPixels), else to its left likewise,
// else below it at `largestDotPixels`. `frameAt` gives the view's frame at a dot size.
struct ViewPlacement {
    QPoint topLeft;
    int dotPixels;
};
ViewPlacement PlaceBeside(const QRect& dialogFrame, const QRect& screen, int largestDotPixels,
                          const std::function<QSize(int dotPixels)>& frameAt);

// The live view of the simulated module: a window of its own that repaints at once
// after every latched transfer, so a run holding the user-interface thread can be
// watched character by character. The blink phase comes from the clock.
class ModuleView final : public QWidget {
    Q_OBJECT
public:
    // Takes the module's change listener until destroyed; the module must outlive the view.
    ModuleView(SimulatedModule& module, Clock& clock, QWidget* parent = nullptr);
    ~ModuleView() override;
    ModuleView(const ModuleView&) = delete;
    ModuleView& operator=(const ModuleView&) = delete;

    // Follows the Size list; an index that is not a size is refused (false) and
    // the view keeps the size it has.
    bool SetSizeIndex(int sizeIndex);
    int SizeIndex() const { return sizeIndex_; }
    int DotPixels() const { return dotPixels_; }
    // Where RenderModule's image sits in the window.
    QPoint ModuleOffset() const;
    // True while something on the glass blinks, that is while the blink timer runs.
    bool Blinking() const { return blinkTimer_.isActive(); }

    // Repaints at the thread's next pause (the port or the module changed).
    void Refresh();
    // The last Verify's one-line result, shown under the status lines.
    void SetVerifyResult(const QString& line);
    // Shows the view next to the dialog's window, not covering it, and keeps it
    // there as the size changes.
    void ShowBeside(QWidget& dialog);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    // At a pause: renders the glass and repaints what changed since the last time.
    void RepaintChanges();
    // The status lines and the Verify result as they are now.
    QStringList CurrentLines() const;
    // Takes the module's status lines as they are now, and the tooltip with
    // them; true when they changed.
    bool KeepStatusLines();
    int TextWidth() const;
    // The rows a status line takes, wrapped at the window's width.
    int RowsOf(const QString& line) const;
    void UpdateBlinkTimer();
    bool BlinkPhaseLit() const;
    // Picks the dot size and, beside a dialog, the place; fixes the window's size.
    void Arrange();
    QSize SizeAt(int dotPixels) const;

    SimulatedModule& module_;
    Clock& clock_;
    int sizeIndex_;
    int dotPixels_ = kMinDotPixels;
    QPointer<QWidget> dialog_;
    QString verifyLine_;           // the last Verify's result, "" before one
    QStringList statusLines_;      // as last shown, also the window's tooltip
    int textRows_ = 0;             // the rows they take at most so far
    QImage glass_;                 // the module as last rendered
    bool glassLit_ = false;        // the blink phase it was rendered in
    bool changesPending_ = false;  // the module changed since; a pause will look
    QTimer blinkTimer_;
};
