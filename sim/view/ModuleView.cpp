#include "sim/view/ModuleView.h"

#include <QFontMetrics>
#include <QPainter>
#include <QScreen>
#include <QWindow>
#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <set>
#include <utility>
#include <vector>

#include "afx/IdleRepaint.h"
#include "base/Clock.h"
#include "sim/ModuleLayout.h"
#include "sim/SimulatedModule.h"

namespace {

constexpr int kFrameDots = 2;        // the dark bezel round the glass
constexpr int kGlassMarginDots = 3;  // bare glass between the bezel and the first dots
constexpr int kFirstDot = kFrameDots + kGlassMarginDots;
constexpr int kDotSpacingPixels = 1;    // glass left between neighbouring dots...
constexpr int kMinSpacedDotPixels = 3;  // ...when dots are this large; smaller ones stay solid
constexpr int kCharacterPitchDots = kCharacterDotColumns + kCharacterGapDots;
constexpr int kRowPitchDots = kGlyphRows + kCharacterGapDots;
constexpr int kCursorDotRow = kGlyphRows - 1;
constexpr unsigned kGlyphRowPatterns = 1u << kCharacterDotColumns;
constexpr QRgb kFrameRgb = qRgb(46, 48, 44);

// The window: dots as large as this on small modules, but a glass no wider than
// this on 40-column ones.
constexpr int kMaxGlassPixels = 720;
constexpr int kViewMaxDotPixels = 5;
constexpr int kWindowMarginPixels = 8;
// Taller than any status text wraps to, for measuring it.
constexpr int kTallestText = 10000;
// The longest status line with a short count: the window is at least this wide.
constexpr const char* kWidestStatusLine = "E0: 8-bit, 2 lines, timing violations: 0000";
constexpr int kWindowGapPixels = 8;  // between the dialog and the view
constexpr int kMicrosPerMilli = 1000;

constexpr const char* kWindowTitle = "Simulated module";

int ClampDotPixels(int dotPixels) {
    return std::clamp(dotPixels, kMinDotPixels, kMaxDotPixels);
}

// The glass with its bezel, in dots, for `columns` characters by `rows` rows.
QSize ModuleDots(int columns, int rows) {
    const int width = columns * kCharacterPitchDots - kCharacterGapDots;
    const int height = rows * kRowPitchDots - kCharacterGapDots;
    return {width + 2 * kFirstDot, height + 2 * kFirstDot};
}

QSize ModuleDots(const std::vector<ModuleRow>& rows) {
    int columns = 0;
    for (const ModuleRow& row : rows) columns = std::max(columns, row.Width());
    return ModuleDots(columns, static_cast<int>(rows.size()));
}

// The controller behind each position of a physical row.
std::vector<int> ControllerPerColumn(const ModuleRow& row) {
    std::vector<int> controllers;
    for (const RowSegment& segment : row.segments)
        controllers.insert(controllers.end(), segment.width, segment.controller);
    return controllers;
}

// The controllers a size uses, in order.
std::set<int> ControllersOf(int sizeIndex) {
    std::set<int> used;
    for (const ModuleRow& row : ModuleRows(sizeIndex))
        for (const RowSegment& segment : row.segments) used.insert(segment.controller);
    return used;
}

bool SomethingBlinks(const SimulatedModule& module, int sizeIndex) {
    const std::vector<ModuleRow> rows = ModuleRows(sizeIndex);
    const std::vector<VisibleRow> visible =
        VisibleRows(sizeIndex, module.Controller(0).State(), module.Controller(1).State());
    for (std::size_t r = 0; r < visible.size() && r < rows.size(); ++r) {
        const std::optional<int> cursor = visible[r].cursorColumn;
        if (!cursor) continue;
        const std::vector<int> controllers = ControllerPerColumn(rows[r]);
        if (*cursor < static_cast<int>(controllers.size()) &&
            module.Controller(controllers[*cursor]).State().blinkOn)
            return true;
    }
    return false;
}

// The dot rows a position shows: the glyph, the blinking block in its lit phase,
// the cursor underline over either.
std::array<std::uint8_t, kGlyphRows> PositionDots(const ControllerState& state,
                                                  std::optional<std::uint8_t> code, bool cursorHere,
                                                  bool blinkLit) {
    std::array<std::uint8_t, kGlyphRows> dots{};
    if (code) dots = GlyphRows(state, *code);
    if (!cursorHere) return dots;
    if (state.blinkOn && blinkLit) dots.fill(kGlyphDotMask);
    if (state.cursorOn) dots[kCursorDotRow] = kGlyphDotMask;
    return dots;
}

void FillRect(QImage& image, const QRect& rect, QRgb colour) {
    const QRect clipped = rect.intersected(image.rect());
    for (int y = clipped.top(); y <= clipped.bottom(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        std::fill(line + clipped.left(), line + clipped.right() + 1, colour);
    }
}

// The bus rules' counts join the line once one of them was broken.
QString ControllerStatus(const LcdController& controller, int number) {
    const ControllerState& state = controller.State();
    QString line = QStringLiteral("E%1: %2, %3, timing violations: %4")
                       .arg(number)
                       .arg(state.eightBitBus ? QStringLiteral("8-bit") : QStringLiteral("4-bit"))
                       .arg(state.twoLines ? QStringLiteral("2 lines") : QStringLiteral("1 line"))
                       .arg(controller.TimingViolations());
    const std::uint64_t unsteady = controller.Violations(Violation::UnsteadyControl);
    const std::uint64_t twoDrivers = controller.Violations(Violation::TwoDrivers);
    if (unsteady || twoDrivers)
        line += QStringLiteral(", RS/RW changes while enabled: %1, two drivers: %2")
                    .arg(unsteady)
                    .arg(twoDrivers);
    return line;
}

// The smallest rectangle holding every pixel in which `after` differs from
// `before`; all of `after` when there is nothing to compare with.
QRect ChangedArea(const QImage& before, const QImage& after) {
    if (before.isNull() || before.size() != after.size() || before.format() != after.format())
        return after.rect();
    int left = after.width();
    int right = -1;
    int top = -1;
    int bottom = -1;
    for (int y = 0; y < after.height(); ++y) {
        const auto* was = reinterpret_cast<const QRgb*>(before.constScanLine(y));
        const auto* is = reinterpret_cast<const QRgb*>(after.constScanLine(y));
        if (std::equal(is, is + after.width(), was)) continue;
        if (top < 0) top = y;
        bottom = y;
        for (int x = 0; x < left; ++x) {
            if (is[x] != was[x]) {
                left = x;
                break;
            }
        }
        for (int x = after.width() - 1; x > right; --x) {
            if (is[x] != was[x]) {
                right = x;
                break;
            }
        }
    }
    if (top < 0) return {};
    return QRect(QPoint(left, top), QPoint(right, bottom));
}

}  // namespace

QRect DotRect(int row, int column, int dotRow, int dotColumn, int dotPixels) {
    const int pixels = ClampDotPixels(dotPixels);
    const int x = kFirstDot + column * kCharacterPitchDots + dotColumn;
    const int y = kFirstDot + row * kRowPitchDots + dotRow;
    const int side = pixels >= kMinSpacedDotPixels ? pixels - kDotSpacingPixels : pixels;
    return {x * pixels, y * pixels, side, side};
}

QImage RenderModule(const SimulatedModule& module, int sizeIndex, bool blinkOn, int dotPixels) {
    const std::vector<ModuleRow> rows = ModuleRows(sizeIndex);
    if (rows.empty()) return {};
    const int pixels = ClampDotPixels(dotPixels);
    const bool backlit = module.Backlight().value_or(true);
    const QRgb glass = backlit ? kGlassRgb : kDarkGlassRgb;
    const QRgb unlit = backlit ? kUnlitDotRgb : kDarkUnlitDotRgb;
    const QSize dots = ModuleDots(rows);
    QImage image(dots * pixels, QImage::Format_RGB32);
    image.fill(kFrameRgb);
    FillRect(
        image,
        QRect(kFrameDots * pixels, kFrameDots * pixels, (dots.width() - 2 * kFrameDots) * pixels,
              (dots.height() - 2 * kFrameDots) * pixels),
        glass);

    // One glyph row of a character in pixels, for each of the 32 patterns of its
    // five dots: lit or unlit dots, with glass between spaced ones. A row of a
    // character is then one copy per pixel line instead of a fill per dot.
    const int side = DotRect(0, 0, 0, 0, pixels).width();
    const int runPixels = (kCharacterDotColumns - 1) * pixels + side;
    std::array<std::vector<QRgb>, kGlyphRowPatterns> runs;
    for (unsigned pattern = 0; pattern < kGlyphRowPatterns; ++pattern) {
        std::vector<QRgb>& run = runs[pattern];
        run.assign(static_cast<std::size_t>(runPixels), glass);
        for (int dc = 0; dc < kCharacterDotColumns; ++dc) {
            const bool on = pattern & (1u << (kCharacterDotColumns - 1 - dc));
            std::fill_n(run.begin() + dc * pixels, side, on ? kLitDotRgb : unlit);
        }
    }

    const std::vector<VisibleRow> visible =
        VisibleRows(sizeIndex, module.Controller(0).State(), module.Controller(1).State());
    for (std::size_t r = 0; r < rows.size() && r < visible.size(); ++r) {
        const std::vector<int> controllers = ControllerPerColumn(rows[r]);
        const VisibleRow& shown = visible[r];
        const int width = static_cast<int>(std::min(controllers.size(), shown.codes.size()));
        for (int c = 0; c < width; ++c) {
            const ControllerState& state = module.Controller(controllers[c]).State();
            const auto lit = PositionDots(state, shown.codes[c], shown.cursorColumn == c, blinkOn);
            for (int dr = 0; dr < kGlyphRows; ++dr) {
                const QRect first = DotRect(static_cast<int>(r), c, dr, 0, pixels);
                if (!image.rect().contains(QRect(first.topLeft(), QSize(runPixels, side))))
                    continue;
                const std::vector<QRgb>& run = runs[lit[dr] & kGlyphDotMask];
                for (int y = first.top(); y <= first.bottom(); ++y) {
                    auto* line = reinterpret_cast<QRgb*>(image.scanLine(y)) + first.left();
                    std::copy(run.begin(), run.end(), line);
                }
            }
        }
    }
    return image;
}

QStringList ModuleStatusLines(const SimulatedModule& module, int sizeIndex) {
    QStringList lines;
    if (ModuleRows(sizeIndex).empty()) return lines;
    QString port = QStringLiteral("%1 on port 0x%2")
                       .arg(QString::fromStdString(ModuleSizeName(sizeIndex)))
                       .arg(QString::number(module.AttachedPort(), 16).toUpper());
    // Early in the line, so that cutting a long wiring short leaves it shown.
    if (const std::optional<bool> backlight = module.Backlight())
        port += *backlight ? QStringLiteral(", backlight on") : QStringLiteral(", backlight off");
    if (!module.Wiring().text.empty())
        port += QStringLiteral(", ") + QString::fromStdString(module.Wiring().text);
    lines << port;
    for (int number : ControllersOf(sizeIndex)) {
        const LcdController& controller = module.Controller(number);
        lines << ControllerStatus(controller, number);
        if (!controller.LastViolation().empty())
            lines << QStringLiteral("    last: %1")
                         .arg(QString::fromStdString(controller.LastViolation()));
    }
    if (module.Fault() != WiringFault{})
        lines << QStringLiteral("wiring fault: %1")
                     .arg(QString::fromStdString(FormatWiringFault(module.Fault())));
    return lines;
}

ViewPlacement PlaceBeside(const QRect& dialogFrame, const QRect& screen, int largestDotPixels,
                          const std::function<QSize(int dotPixels)>& frameAt) {
    const int largest = ClampDotPixels(largestDotPixels);
    if (screen.isEmpty())
        return {{dialogFrame.right() + 1 + kWindowGapPixels, dialogFrame.top()}, largest};
    // Level with the dialog, lifted only as far as the screen's bottom edge asks.
    const auto top = [&](const QSize& frame) {
        return std::max(screen.top(),
                        std::min(dialogFrame.top(), screen.bottom() + 1 - frame.height()));
    };
    for (int dotPixels = largest; dotPixels >= kMinDotPixels; --dotPixels) {
        const QSize frame = frameAt(dotPixels);
        const int x = dialogFrame.right() + 1 + kWindowGapPixels;
        if (x + frame.width() <= screen.right() + 1) return {{x, top(frame)}, dotPixels};
    }
    for (int dotPixels = largest; dotPixels >= kMinDotPixels; --dotPixels) {
        const QSize frame = frameAt(dotPixels);
        const int x = dialogFrame.left() - kWindowGapPixels - frame.width();
        if (x >= screen.left()) return {{x, top(frame)}, dotPixels};
    }
    const QSize frame = frameAt(largest);
    const int x =
        std::max(screen.left(), std::min(dialogFrame.left(), screen.right() + 1 - frame.width()));
    return {{x, dialogFrame.bottom() + 1 + kWindowGapPixels}, largest};
}

ModuleView::ModuleView(SimulatedModule& module, Clock& clock, QWidget* parent)
    : QWidget(parent, Qt::Window), module_(module), clock_(clock), sizeIndex_(-1) {
    setWindowTitle(QString::fromLatin1(kWindowTitle));
    // A side window: closing it leaves the dialog, and so the program, running.
    setAttribute(Qt::WA_QuitOnClose, false);
    blinkTimer_.setSingleShot(true);
    blinkTimer_.setTimerType(Qt::PreciseTimer);
    connect(&blinkTimer_, &QTimer::timeout, this, [this] {
        update();
        UpdateBlinkTimer();
    });
    module_.SetChangeListener([this](const BusTransfer&) { Refresh(); });
    module_.SetViolationListener([this] { Refresh(); });
    Arrange();
    UpdateBlinkTimer();
}

ModuleView::~ModuleView() {
    module_.SetChangeListener({});
    module_.SetViolationListener({});
}

bool ModuleView::SetSizeIndex(int sizeIndex) {
    if (ModuleRows(sizeIndex).empty()) return false;
    sizeIndex_ = sizeIndex;
    Arrange();
    Refresh();
    return true;
}

QPoint ModuleView::ModuleOffset() const {
    const int imageWidth = ModuleDots(ModuleRows(sizeIndex_)).width() * dotPixels_;
    // Centred over the status lines when they are the wider part.
    return {std::max(kWindowMarginPixels, (width() - imageWidth) / 2), kWindowMarginPixels};
}

QSize ModuleView::SizeAt(int dotPixels) const {
    const QSize module = ModuleDots(ModuleRows(sizeIndex_)) * dotPixels;
    // The size line, and per controller its line and room for a last violation,
    // so that the window keeps its size when a violation turns up.
    // One more for the Verify result, and one for a wiring fault when there is one.
    // More where the lines as they are wrap over more rows than that.
    const int controllers = static_cast<int>(ControllersOf(sizeIndex_).size());
    const int lines =
        std::max(2 + 2 * controllers + (module_.Fault() != WiringFault{} ? 1 : 0), textRows_);
    const int textWidth = fontMetrics().horizontalAdvance(QString::fromLatin1(kWidestStatusLine));
    return {std::max(module.width(), textWidth) + 2 * kWindowMarginPixels,
            module.height() + lines * fontMetrics().lineSpacing() + 3 * kWindowMarginPixels};
}

QSize ModuleView::sizeHint() const {
    return SizeAt(dotPixels_);
}

void ModuleView::Arrange() {
    const int widthDots = ModuleDots(ModuleRows(sizeIndex_)).width();
    const int preferred =
        std::clamp(kMaxGlassPixels / std::max(widthDots, 1), kMinDotPixels, kViewMaxDotPixels);
    if (!dialog_) {
        dotPixels_ = preferred;
        setFixedSize(sizeHint());
        return;
    }
    // Before the view is first shown its decorations are unknown; the dialog's serve.
    const QSize decoration = dialog_->frameGeometry().size() - dialog_->size();
    const QScreen* screen = dialog_->screen();
    const ViewPlacement place =
        PlaceBeside(dialog_->frameGeometry(), screen ? screen->availableGeometry() : QRect(),
                    preferred, [&](int dotPixels) { return SizeAt(dotPixels) + decoration; });
    dotPixels_ = place.dotPixels;
    setFixedSize(sizeHint());
    move(place.topLeft);
}

void ModuleView::Refresh() {
    UpdateBlinkTimer();
    // At the next pause: a run's sleep paints the module while it waits, so a
    // transfer costs the run no painting time.
    changesPending_ = true;
    WorkWhenIdle(this, [this] { RepaintChanges(); });
}

void ModuleView::RepaintChanges() {
    changesPending_ = false;
    const bool lit = BlinkPhaseLit();
    QImage next = RenderModule(module_, sizeIndex_, lit, dotPixels_);
    // Only what changed is repainted: a transfer changes a character or two,
    // and sending the whole window to the screen at every pause costs more
    // than the rest of the painting.
    const QRect changed = ChangedArea(glass_, next);
    glass_ = std::move(next);
    glassLit_ = lit;
    if (!changed.isEmpty()) update(changed.translated(ModuleOffset()));
    if (KeepStatusLines()) {
        const int top = ModuleOffset().y() + glass_.height();
        update(QRect(0, top, width(), height() - top));
    }
}

void ModuleView::SetVerifyResult(const QString& line) {
    verifyLine_ = line;
    Refresh();
}

QStringList ModuleView::CurrentLines() const {
    QStringList lines = ModuleStatusLines(module_, sizeIndex_);
    if (!verifyLine_.isEmpty()) lines << verifyLine_;
    return lines;
}

int ModuleView::TextWidth() const {
    return width() - 2 * kWindowMarginPixels;
}

int ModuleView::RowsOf(const QString& line) const {
    const QFontMetrics metrics = fontMetrics();
    const QRect wrapped =
        metrics.boundingRect(QRect(0, 0, TextWidth(), kTallestText), Qt::TextWordWrap, line);
    return std::max(1, (wrapped.height() + metrics.lineSpacing() - 1) / metrics.lineSpacing());
}

bool ModuleView::KeepStatusLines() {
    QStringList lines = CurrentLines();
    if (lines == statusLines_) return false;
    statusLines_ = std::move(lines);
    // A line too long for the window wraps, and the window grows for it (it
    // never shrinks back, so it does not jump as counts come and go).
    int rows = 0;
    for (const QString& line : statusLines_) rows += RowsOf(line);
    if (rows > textRows_) {
        textRows_ = rows;
        setFixedSize(width(), SizeAt(dotPixels_).height());
    }
    setToolTip(statusLines_.join(QLatin1Char('\n')));
    return true;
}

void ModuleView::ShowBeside(QWidget& dialog) {
    // Transient for the dialog, so the dialog's modality leaves it movable and closable.
    winId();
    if (windowHandle() && dialog.windowHandle())
        windowHandle()->setTransientParent(dialog.windowHandle());
    dialog_ = &dialog;
    Arrange();
    show();
}

bool ModuleView::BlinkPhaseLit() const {
    return (clock_.NowMicros() / kBlinkPhaseMicros) % 2 == 0;
}

void ModuleView::UpdateBlinkTimer() {
    if (!SomethingBlinks(module_, sizeIndex_)) {
        blinkTimer_.stop();
        return;
    }
    // Wake at the next change of phase (rounded up, so the phase has changed by then).
    const std::uint64_t left = kBlinkPhaseMicros - clock_.NowMicros() % kBlinkPhaseMicros;
    blinkTimer_.start(static_cast<int>((left + kMicrosPerMilli - 1) / kMicrosPerMilli));
}

void ModuleView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    // The glass as last rendered at a pause, unless the blink phase or the
    // size moved on since (the blink timer and a new size repaint it whole).
    const bool lit = BlinkPhaseLit();
    const QSize glassSize = ModuleDots(ModuleRows(sizeIndex_)) * dotPixels_;
    if (glass_.isNull() || glassLit_ != lit || glass_.size() != glassSize) {
        glass_ = RenderModule(module_, sizeIndex_, lit, dotPixels_);
        glassLit_ = lit;
        KeepStatusLines();
    }
    // A transfer since the last pause shows as well; the pause still compares
    // with what it rendered last, so it repaints everything that changed.
    const QImage image =
        changesPending_ ? RenderModule(module_, sizeIndex_, lit, dotPixels_) : glass_;
    const QStringList lines = changesPending_ ? CurrentLines() : statusLines_;
    const QPoint origin = ModuleOffset();
    painter.drawImage(origin, image);

    const QFontMetrics metrics = fontMetrics();
    int top = origin.y() + image.height() + kWindowMarginPixels;
    painter.setPen(palette().color(QPalette::WindowText));
    for (const QString& line : lines) {
        const int height = RowsOf(line) * metrics.lineSpacing();
        painter.drawText(QRect(kWindowMarginPixels, top, TextWidth(), height),
                         Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, line);
        top += height;
    }
}
