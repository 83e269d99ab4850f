#include "MMControls.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QStyleOptionSlider>
#include <algorithm>
#include <cmath>

namespace {

void FillBlack(QWidget* w, QPainter& p) {
  p.fillRect(w->rect(), Qt::black);
}

// Segment polygons of a digit drawn in a w x h box.
void DrawSegments(QPainter& p, const QRectF& box, int lit, const QColor& on, const QColor& off) {
  const qreal w = box.width(), h = box.height(), t = std::max<qreal>(2, w / 5);
  const qreal x = box.left(), y = box.top(), mid = y + h / 2;
  const QRectF segs[7] = {
      {x + t, y, w - 2 * t, t},                      // a: top
      {x + w - t, y + t, t, h / 2 - 1.5 * t},        // b: upper right
      {x + w - t, mid + t / 2, t, h / 2 - 1.5 * t},  // c: lower right
      {x + t, y + h - t, w - 2 * t, t},              // d: bottom
      {x, mid + t / 2, t, h / 2 - 1.5 * t},          // e: lower left
      {x, y + t, t, h / 2 - 1.5 * t},                // f: upper left
      {x + t, mid - t / 2, w - 2 * t, t},            // g: middle
  };
  for (int i = 0; i < 7; ++i) p.fillRect(segs[i], (lit >> i) & 1 ? on : off);
}

}  // namespace

// ---- TMMLEDDigit ---------------------------------------------------------------------------

TMMLEDDigit::TMMLEDDigit(QWidget* parent) : QWidget(parent) {}

int TMMLEDDigit::Segments(int digit) {
  static const int table[10] = {0x3F, 0x06, 0x5B, 0x4F, 0x66, 0x6D, 0x7D, 0x07, 0x7F, 0x6F};
  return digit >= 0 && digit <= 9 ? table[digit] : 0;
}

int TMMLEDDigit::Number() const {
  return value_ + (cascade_ ? 10 * cascade_->Number() : 0);
}

void TMMLEDDigit::SetValue(int number) {
  if (number < 0) number = 0;
  int digit = number % 10;
  if (digit != value_) {
    value_ = digit;
    update();
  }
  if (cascade_) cascade_->SetValue(number / 10);
}

void TMMLEDDigit::SetBlankZero(bool blank_zero) {
  blank_zero_ = blank_zero;
  update();
}

void TMMLEDDigit::SetColors(const TMMLEDColors& colors) {
  colors_ = colors;
  update();
}

bool TMMLEDDigit::Blank() const {
  return blank_zero_ && Number() == 0;
}

void TMMLEDDigit::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), colors_.background);
  QRectF box = QRectF(rect()).adjusted(2, 2, -2, -2);
  DrawSegments(p, box, Blank() ? 0 : Segments(value_), colors_.on, colors_.off);
}

// ---- TMMLEDColon ---------------------------------------------------------------------------

TMMLEDColon::TMMLEDColon(QWidget* parent) : QWidget(parent) {}

void TMMLEDColon::SetLit(bool lit) {
  lit_ = lit;
  update();
}

void TMMLEDColon::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), colors_.background);
  const qreal s = std::max(2, width() / 3);
  QColor c = lit_ ? colors_.on : colors_.off;
  p.fillRect(QRectF((width() - s) / 2, height() * 0.3, s, s), c);
  p.fillRect(QRectF((width() - s) / 2, height() * 0.65, s, s), c);
}

// ---- TMMLevel ------------------------------------------------------------------------------

TMMLevel::TMMLevel(QWidget* parent) : QWidget(parent) {}

void TMMLevel::SetPeak(int peak) {
  peak = std::clamp(peak, 0, 32768);
  peak_ = peak >= peak_ ? peak : std::max(peak, peak_ - decay_);
  // The held mark rises with the level, or falls to it after 20 updates below it.
  if (peak_ >= hold_ || ++hold_age_ > 20) {
    hold_ = peak_;
    hold_age_ = 0;
  }
  update();
}

void TMMLevel::Reset() {
  peak_ = hold_ = hold_age_ = 0;
  update();
}

int TMMLevel::LitBars() const {
  if (peak_ <= 0) return 0;
  double db = 20 * std::log10(peak_ / 32768.0);
  int bars = static_cast<int>(std::lround((db + 48) / 48 * Bars()));
  return std::clamp(bars, 0, Bars());
}

void TMMLevel::paintEvent(QPaintEvent*) {
  QPainter p(this);
  FillBlack(this, p);
  const int lit = LitBars();
  const qreal bw = width() / static_cast<qreal>(Bars());
  int hold_bar = 0;
  if (hold_ > 0)
    hold_bar = std::clamp(
        static_cast<int>(std::lround((20 * std::log10(hold_ / 32768.0) + 48) / 48 * Bars())), 0,
        Bars());
  for (int i = 0; i < Bars(); ++i) {
    // -6 dB and -1.5 dB fall at bars 28 and 31 of 32.
    QColor on = i >= 31 ? QColor(255, 0, 0) : i >= 28 ? QColor(255, 255, 0) : QColor(0, 255, 0);
    QColor off = on.darker(400);
    bool lit_here = i < lit || (hold_bar > 0 && i == hold_bar - 1);
    p.fillRect(QRectF(i * bw + 1, 1, bw - 2, height() - 2), lit_here ? on : off);
  }
}

// ---- TMMGauge ------------------------------------------------------------------------------

TMMGauge::TMMGauge(QWidget* parent) : QWidget(parent) {}

void TMMGauge::SetMax(int max) {
  max_ = std::max(1, max);
  position_ = std::min(position_, max_);
  update();
}

void TMMGauge::SetPosition(int position) {
  position_ = std::clamp(position, 0, max_);
  update();
}

int TMMGauge::Percent() const {
  return static_cast<int>(static_cast<long long>(position_) * 100 / max_);
}

void TMMGauge::paintEvent(QPaintEvent*) {
  QPainter p(this);
  FillBlack(this, p);
  const int bars = std::max(1, width() / 4);
  const int lit = static_cast<int>(static_cast<long long>(position_) * bars / max_);
  const qreal bw = width() / static_cast<qreal>(bars);
  for (int i = 0; i < bars; ++i)
    p.fillRect(QRectF(i * bw + 0.5, 1, bw - 1, height() - 2),
               i < lit ? QColor(0, 255, 255) : QColor(0, 50, 50));
}

// ---- TMMLEDSpin ----------------------------------------------------------------------------

TMMLEDSpin::TMMLEDSpin(QWidget* parent) : QWidget(parent) {}

void TMMLEDSpin::SetRange(int min, int max) {
  min_ = std::min(min, max);
  max_ = std::max(min, max);
  SetValue(value_);
}

void TMMLEDSpin::SetValue(int value) {
  value = std::clamp(value, min_, max_);
  if (value == value_) return;
  value_ = value;
  update();
  if (OnChange) OnChange(this);
}

void TMMLEDSpin::StepUp() {
  SetValue(value_ + 1);
  if (OnUpClick) OnUpClick(this);
}

void TMMLEDSpin::StepDown() {
  SetValue(value_ - 1);
  if (OnDownClick) OnDownClick(this);
}

QString TMMLEDSpin::Text() const {
  return value_ > 0 ? QString("+%1").arg(value_) : QString::number(value_);
}

void TMMLEDSpin::paintEvent(QPaintEvent*) {
  QPainter p(this);
  FillBlack(this, p);
  TMMLEDColors colors;
  const int arrows = 14;
  const QString text = Text().rightJustified(3, ' ');
  const qreal dw = (width() - arrows - 4) / 3.0;
  for (int i = 0; i < 3; ++i) {
    QRectF box(2 + i * dw + 1, 3, dw - 3, height() - 6);
    QChar c = text[i];
    if (c.isDigit()) {
      DrawSegments(p, box, TMMLEDDigit::Segments(c.digitValue()), colors.on, colors.off);
    } else {
      DrawSegments(p, box, 0, colors.on, colors.off);
      const qreal t = std::max<qreal>(2, box.width() / 5);
      if (c == '-' || c == '+')
        p.fillRect(QRectF(box.left() + t, box.center().y() - t / 2, box.width() - 2 * t, t),
                   colors.on);
      if (c == '+')
        p.fillRect(
            QRectF(box.center().x() - t / 2, box.top() + box.height() / 4, t, box.height() / 2),
            colors.on);
    }
  }
  // The arrows: up on the upper half, down on the lower.
  const qreal ax = width() - arrows + 1, aw = arrows - 3;
  QPainterPath up, down;
  up.moveTo(ax, height() / 2.0 - 2);
  up.lineTo(ax + aw / 2, 3);
  up.lineTo(ax + aw, height() / 2.0 - 2);
  down.moveTo(ax, height() / 2.0 + 2);
  down.lineTo(ax + aw / 2, height() - 3);
  down.lineTo(ax + aw, height() / 2.0 + 2);
  p.fillPath(up, value_ < max_ ? colors.on : colors.off);
  p.fillPath(down, value_ > min_ ? colors.on : colors.off);
}

void TMMLEDSpin::mousePressEvent(QMouseEvent* event) {
  if (event->position().x() < width() - 14) return;
  if (event->position().y() < height() / 2.0)
    StepUp();
  else
    StepDown();
}

// ---- TMMBitmapButton -----------------------------------------------------------------------

TMMBitmapButton::TMMBitmapButton(TMMButtonGlyph glyph, QWidget* parent)
    : QAbstractButton(parent), glyph_(glyph) {
  setFixedSize(50, 50);
  setFocusPolicy(Qt::TabFocus);
}

void TMMBitmapButton::enterEvent(QEnterEvent*) {
  hover_ = true;
  update();
}

void TMMBitmapButton::leaveEvent(QEvent*) {
  hover_ = false;
  update();
}

void TMMBitmapButton::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const bool sunken = isDown() || isChecked();
  QRectF r = QRectF(rect()).adjusted(1, 1, -1, -1);
  QLinearGradient g(r.topLeft(), r.bottomLeft());
  g.setColorAt(0, sunken ? QColor(10, 10, 10) : QColor(70, 70, 70));
  g.setColorAt(1, sunken ? QColor(50, 50, 50) : QColor(15, 15, 15));
  p.setPen(QPen(QColor(90, 90, 90), 1));
  p.setBrush(g);
  p.drawRoundedRect(r, 6, 6);
  QColor ink = !isEnabled() ? QColor(90, 90, 90)
               : glyph_ == TMMButtonGlyph::kRecord
                   ? (hover_ || sunken ? QColor(255, 60, 60) : QColor(200, 0, 0))
               : hover_ || sunken ? QColor(120, 255, 120)
                                  : QColor(0, 200, 0);
  p.setPen(Qt::NoPen);
  p.setBrush(ink);
  const qreal c = 25 + (sunken ? 1 : 0);
  auto tri = [&](qreal x0, qreal x1, qreal half) {
    QPainterPath path;
    path.moveTo(x0, c - half);
    path.lineTo(x1, c);
    path.lineTo(x0, c + half);
    path.closeSubpath();
    p.drawPath(path);
  };
  switch (glyph_) {
    case TMMButtonGlyph::kRecord:
      p.drawEllipse(QPointF(c, c), 10, 10);
      break;
    case TMMButtonGlyph::kPlay:
      tri(c - 7, c + 10, 11);
      break;
    case TMMButtonGlyph::kStop:
      p.drawRect(QRectF(c - 9, c - 9, 18, 18));
      break;
    case TMMButtonGlyph::kPause:
      p.drawRect(QRectF(c - 9, c - 10, 6, 20));
      p.drawRect(QRectF(c + 3, c - 10, 6, 20));
      break;
    case TMMButtonGlyph::kEject: {
      QPainterPath path;
      path.moveTo(c, c - 12);
      path.lineTo(c + 11, c + 2);
      path.lineTo(c - 11, c + 2);
      path.closeSubpath();
      p.drawPath(path);
      p.drawRect(QRectF(c - 11, c + 6, 22, 4));
      break;
    }
    case TMMButtonGlyph::kPrevious:
      p.drawRect(QRectF(c - 13, c - 9, 4, 18));
      tri(c, c - 9, 9);
      tri(c + 10, c + 1, 9);
      break;
    case TMMButtonGlyph::kNext:
      tri(c - 10, c - 1, 9);
      tri(c, c + 9, 9);
      p.drawRect(QRectF(c + 9, c - 9, 4, 18));
      break;
    case TMMButtonGlyph::kRepeat: {
      p.setBrush(Qt::NoBrush);
      p.setPen(QPen(ink, 3));
      p.drawArc(QRectF(c - 11, c - 9, 22, 18), 30 * 16, 300 * 16);
      p.setPen(Qt::NoPen);
      p.setBrush(ink);
      QPainterPath head;
      head.moveTo(c + 6, c - 12);
      head.lineTo(c + 13, c - 4);
      head.lineTo(c + 3, c - 3);
      head.closeSubpath();
      p.drawPath(head);
      break;
    }
  }
}

// ---- TMMSlider -----------------------------------------------------------------------------

TMMSlider::TMMSlider(Qt::Orientation orientation, QWidget* parent) : QSlider(orientation, parent) {}

void TMMSlider::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  QStyleOptionSlider opt;
  initStyleOption(&opt);
  const bool vertical = orientation() == Qt::Vertical;
  const int span = (vertical ? height() : width()) - 12;
  const int range = std::max(1, maximum() - minimum());
  int offset = static_cast<int>(static_cast<long long>(value() - minimum()) * span / range);
  // Vertical sliders have their maximum at the top.
  int pos = vertical ? 6 + span - offset : 6 + offset;
  QRectF groove = vertical ? QRectF(width() / 2.0 - 2, 4, 4, height() - 8)
                           : QRectF(4, height() / 2.0 - 2, width() - 8, 4);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(30, 30, 30));
  p.drawRoundedRect(groove, 2, 2);
  QRectF thumb =
      vertical ? QRectF(1, pos - 4, width() - 2, 8) : QRectF(pos - 4, 1, 8, height() - 2);
  p.setBrush(isEnabled() ? QColor(0, 220, 0) : QColor(80, 80, 80));
  p.drawRoundedRect(thumb, 2, 2);
}
