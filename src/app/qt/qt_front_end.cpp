// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/qt/qt_front_end.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QFontMetricsF>
#include <QFrame>
#include <QHash>
#include <QInputDialog>
#include <QLabel>
#include <QMainWindow>
#include <QMenuBar>
#include <QMessageBox>
#include <QPaintEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QStaticText>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextBrowser>
#include <QThread>
#include <QWindow>
#include <QUrl>
#include <QVBoxLayout>
#include <QWindowStateChangeEvent>
#include <algorithm>
#include <cmath>
#include <iostream>
#include <vector>

#include "app/headless_ui.h"
#include "app/qt/wind_dial_painter.h"

namespace wx {
namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

// Message texts break lines with "\r".
QString BoxText(const std::string& s) {
  QString t = Q(s);
  t.replace("\r\n", "\n");
  t.replace('\r', '\n');
  return t;
}

QColor FromWindowsColour(uint32_t c) { return QColor(c & 0xff, (c >> 8) & 0xff, (c >> 16) & 0xff); }

QFont BoldFont(const char* family = nullptr) {
  QFont f;
  if (family) f.setFamily(family);
  f.setPixelSize(13);
  f.setBold(true);
  return f;
}

QLabel* PlaceLabel(QLabel* label, const char* name, int l, int t, int w, int h,
                   const QString& text = {}, Qt::Alignment align = Qt::AlignLeft) {
  label->setText(text);
  label->setObjectName(name);
  label->setGeometry(l, t, w, h);
  label->setTextFormat(Qt::PlainText);
  label->setAlignment(align | Qt::AlignTop);
  return label;
}

QLabel* MakeLabel(QWidget* parent, const char* name, int l, int t, int w, int h,
                  const QString& text = {}, Qt::Alignment align = Qt::AlignLeft) {
  return PlaceLabel(new QLabel(parent), name, l, t, w, h, text, align);
}

// A label whose text changes at every tick: the cycle count, the clock.
// It keeps its own picture and, for a new text of the same layout, redraws
// only around the characters that differ (mostly the last digit), then
// shows the picture: no text layout at every tick, and a glyph or two drawn
// instead of the whole text. Each character is laid out once, at its first
// use, and placed at its advance and its kerning with the next one, as a
// label places digits, separators and spaces.
//
// The clock lies over the end of the messages' second line. As a value label
// it fills its own background, which hides the label beneath; where that one
// has text, its picture of the overlap is the ground the text is drawn on,
// so the window looks as if both were painted in turn.
class TickingLabel : public QLabel {
 public:
  explicit TickingLabel(QWidget* parent, QLabel* below = nullptr) : QLabel(parent), below_(below) {}

 protected:
  void paintEvent(QPaintEvent*) override {
    Compose();
    QPainter(this).drawImage(0, 0, shown_);
  }

 private:
  struct Glyph {
    QStaticText text;
    qreal advance = 0, inkLeft = 0, inkRight = 0;  // from the pen position
  };

  // Everything the picture without text depends on.
  struct Look {
    QSize size;
    qreal pixelRatio = 0;
    qint64 palette = 0;
    QFont font;
    QRect overlap;  // of the label beneath, in this label's coordinates
    QString belowText;
    QFont belowFont;
    qint64 belowPalette = 0;
    bool operator==(const Look&) const = default;
  };

  Look Now() const {
    Look look;
    look.size = size();
    look.pixelRatio = devicePixelRatioF();
    look.palette = palette().cacheKey();
    look.font = font();
    if (below_ && !below_->isHidden()) {
      look.overlap = (geometry() & below_->geometry()).translated(-pos());
      if (!look.overlap.isEmpty()) {
        look.belowText = below_->text();
        look.belowFont = below_->font();
        look.belowPalette = below_->palette().cacheKey();
      }
    }
    return look;
  }

  void Compose() {
    const Look look = Now();
    const bool fresh = !(look == look_);
    if (fresh) {
      look_ = look;
      glyphs_.clear();
      kerning_.clear();
      blank_ = QImage(size() * look.pixelRatio, QImage::Format_RGB32);
      blank_.setDevicePixelRatio(look.pixelRatio);
      blank_.fill(palette().color(backgroundRole()));
      if (!look.overlap.isEmpty()) {
        QPainter painter(&blank_);
        below_->render(&painter, look.overlap.topLeft(),
                       QRegion(look.overlap.translated(pos() - below_->pos())), {});
      }
    }
    const QString t = text();
    std::vector<qreal> x = Place(t);
    if (fresh || t.size() != shownText_.size() || x != shownX_) {
      shown_ = blank_.copy();
      QPainter painter(&shown_);
      Pen(painter);
      for (qsizetype i = 0; i < t.size(); ++i) Draw(painter, t[i], x[i]);
    } else {
      QRegion dirty;
      for (qsizetype i = 0; i < t.size(); ++i)
        if (t[i] != shownText_[i]) dirty += Cell(shownText_[i], x[i]) | Cell(t[i], x[i]);
      if (!dirty.isEmpty()) {
        QPainter painter(&shown_);
        painter.setClipRegion(dirty);
        painter.drawImage(0, 0, blank_);
        Pen(painter);
        for (qsizetype i = 0; i < t.size(); ++i)
          if (dirty.intersects(Cell(t[i], x[i]))) Draw(painter, t[i], x[i]);
      }
    }
    shownText_ = t;
    shownX_ = std::move(x);
  }

  // Where each character of a text goes, as a label puts one line at the
  // top; and where the text ends.
  std::vector<qreal> Place(const QString& t) {
    std::vector<qreal> at;
    at.reserve(t.size() + 1);
    qreal x = 0;
    for (qsizetype i = 0; i < t.size(); ++i) {
      at.push_back(x);
      x += GlyphOf(t[i]).advance + (i + 1 < t.size() ? Kerning(t[i], t[i + 1]) : 0);
    }
    at.push_back(x);
    const QRect r = contentsRect();
    qreal left = r.left();
    if (alignment() & Qt::AlignRight) left += r.width() - x;
    else if (alignment() & Qt::AlignHCenter) left += (r.width() - x) / 2;
    for (qreal& a : at) a += left;
    return at;
  }

  // A pair's own spacing ("11" is set closer than two ones).
  qreal Kerning(QChar a, QChar b) {
    const quint32 key = quint32(a.unicode()) << 16 | b.unicode();
    auto it = kerning_.find(key);
    if (it == kerning_.end())
      it = kerning_.insert(key, QFontMetricsF(font()).horizontalAdvance(QString(a) + b) - GlyphOf(a).advance -
                                    GlyphOf(b).advance);
    return *it;
  }

  void Draw(QPainter& painter, QChar c, qreal x) {
    if (!c.isSpace()) painter.drawStaticText(QPointF(x, contentsRect().top()), GlyphOf(c).text);
  }

  // The glyphs were laid out for this font, and keep their layout only when
  // drawn with it.
  void Pen(QPainter& painter) const {
    painter.setFont(font());
    painter.setPen(palette().color(foregroundRole()));
  }

  // The columns a character at x may touch, its smoothed edges included.
  QRect Cell(QChar c, qreal x) {
    const Glyph& g = GlyphOf(c);
    return QRectF(QPointF(x + std::min<qreal>(0, g.inkLeft) - 1, 0),
                  QPointF(x + std::max(g.advance, g.inkRight) + 1, height()))
        .toAlignedRect();
  }

  const Glyph& GlyphOf(QChar c) {
    auto it = glyphs_.find(c);
    if (it == glyphs_.end()) {
      const QFontMetricsF metrics(font());
      const QRectF ink = metrics.boundingRect(c);
      Glyph g{QStaticText(QString(c)), metrics.horizontalAdvance(c), ink.left(), ink.right()};
      g.text.setTextFormat(Qt::PlainText);
      g.text.prepare(QTransform(), font());
      it = glyphs_.insert(c, g);
    }
    return *it;
  }

  QLabel* below_;
  Look look_;
  QHash<QChar, Glyph> glyphs_;
  QHash<quint32, qreal> kerning_;
  QImage blank_, shown_;  // without and with the text shown
  QString shownText_;
  std::vector<qreal> shownX_;
};

WindowState StateOf(const QWidget* w) {
  if (w->windowState() & Qt::WindowMinimized) return WindowState::Minimized;
  if (w->windowState() & Qt::WindowMaximized) return WindowState::Maximized;
  return WindowState::Normal;
}

Qt::WindowStates ToQt(WindowState s) {
  switch (s) {
    case WindowState::Minimized: return Qt::WindowMinimized;
    case WindowState::Maximized: return Qt::WindowMaximized;
    default: return Qt::WindowNoState;
  }
}

// A window's rectangle is its outer frame, title bar and border included.
WindowRect FrameRectOf(const QWidget* w) {
  const QRect f = w->frameGeometry();
  return {f.x(), f.y(), f.width(), f.height()};
}

// The window manager's frame around a window's client area (none before the
// window is on screen, nor without a window manager).
QMargins FrameMargins(const QWidget* w) {
  const QRect f = w->frameGeometry(), g = w->geometry();
  return {g.left() - f.left(), g.top() - f.top(), f.right() - g.right(), f.bottom() - g.bottom()};
}

// Keeps a box's outer frame at a screen position. Before a window is on
// screen its frame is unknown, and a window manager may put the client area
// there instead; once the frame is known the box is moved to match (a few
// times at most, in case the window manager insists on its own place).
class FramePin : public QObject {
 public:
  FramePin(QWidget* box, int x, int y) : QObject(box), box_(box), target_(x, y) {
    box->move(target_);
    timer_.setParent(this);
    timer_.setInterval(20);
    connect(&timer_, &QTimer::timeout, this, &FramePin::Check);
    timer_.start();
    waited_.start();
  }

 private:
  void Check() {
    if (moves_ >= 3 || waited_.elapsed() > 3000) {
      timer_.stop();
      return;
    }
    QWindow* window = box_->windowHandle();
    if (!window || !box_->isVisible()) return;
    const QMargins m = window->frameMargins();
    if (m.isNull()) return;
    const QPoint frame = box_->geometry().topLeft() - QPoint(m.left(), m.top());
    if (frame == target_) return;
    ++moves_;
    box_->setGeometry(QRect(target_ + QPoint(m.left(), m.top()), box_->size()));
  }

  QWidget* box_;
  QPoint target_;
  QTimer timer_;
  QElapsedTimer waited_;
  int moves_ = 0;
};

// No system menu, no minimise, maximise or close box: only a title.
constexpr Qt::WindowFlags kNoBorderIcons = Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint;

}  // namespace

// Shows an image unscaled, painted straight from its pixels. The image says
// which rectangle was written since the last tick, and only that is
// repainted: a new point on the chart is a few pixels, not the whole chart.
class ImagePane : public QWidget {
 public:
  ImagePane(QWidget* parent, const char* name, const QRect& geometry, RgbImage& image)
      : QWidget(parent), image_(image),
        view_(reinterpret_cast<const uchar*>(image.Row(0)), image.Width(), image.Height(), image.Width() * 4,
              QImage::Format_RGB32) {
    setObjectName(name);
    setGeometry(geometry);
    setAttribute(Qt::WA_OpaquePaintEvent);  // every pixel comes from the image
    image_.TakeChanged();                   // what is there now is painted when shown
  }

  // After a tick: repaints what changed since the last call.
  void Follow() {
    const PixelRect r = image_.TakeChanged();
    if (!r.Empty()) update(QRect(QPoint(r.left, r.top), QPoint(r.right, r.bottom)));
  }

 protected:
  void paintEvent(QPaintEvent* event) override {
    QPainter painter(this);
    const QRect r = event->rect();
    painter.fillRect(r, palette().window());  // beyond an image smaller than the pane
    painter.drawImage(r.topLeft(), view_, r);
  }

 private:
  RgbImage& image_;
  const QImage view_;  // the image's own pixels, read in place
};

QtFrontEnd::QtFrontEnd(Views& views, RgbImage& graph, WindDial& dial, double timeScale)
    : views_(views), graph_(graph), dial_(dial), timeScale_(timeScale > 0 ? timeScale : 1.0) {
  dial_.Show(PaintWindDial);
  lastRect_.fill(WindowRect{-1, -1, -1, -1});
  timer_.setParent(this);
  timer_.setObjectName("Timer1");
  connect(&timer_, &QTimer::timeout, this, [this] {
    if (events_) events_->Timer1Timer();
  });
  // Creation order matters: the numeric window is the first, the error window
  // shows the splash text while the main window starts up.
  BuildNumeric();
  BuildError();
  BuildMain();
  Refresh();
}

QtFrontEnd::~QtFrontEnd() {
  timer_.stop();
  for (QWidget* w : {static_cast<QWidget*>(main_.get()), error_.get(), numeric_.get()})
    if (w) w->removeEventFilter(this);
}

QWidget* QtFrontEnd::NumericWindow() const { return numeric_.get(); }
QWidget* QtFrontEnd::ErrorWindow() const { return error_.get(); }
QWidget* QtFrontEnd::MainWindow() const { return main_.get(); }
QWidget* QtFrontEnd::HelpWindow() const { return help_.get(); }

void QtFrontEnd::Bind(QLabel* label, const LabelView& view) {
  // Of a fixed size, a new text does not ask the window for a new layout;
  // filling its own background, it repaints alone, not the window and the
  // labels beneath it too.
  label->setFixedSize(label->size());
  label->setAutoFillBackground(true);
  bound_.push_back(Bound{label, &view, {}, 0, false});
}

void QtFrontEnd::BuildNumeric() {
  numeric_ = std::make_unique<QWidget>(nullptr, kNoBorderIcons);
  QWidget* w = numeric_.get();
  w->setObjectName("TWX118fControl");
  w->setFont(BoldFont("Arial"));
  MakeLabel(w, "laTextTture", 16, 8, 116, 16, "Tx:  Temperatures");
  MakeLabel(w, "laTxtWSKey", 16, 24, 140, 16, "WS: Windspeed count");
  MakeLabel(w, "laTxtRFKey", 16, 40, 117, 16, "RF:  Rainfall count");
  MakeLabel(w, "laTxtBPKey", 16, 56, 158, 16, "BP:  Barometric pressure");
  MakeLabel(w, "Label4", 192, 8, 224, 16, "WDi: Wind Direction(instantaneous)");
  MakeLabel(w, "Label3", 192, 24, 192, 16, "WDa: Wind Direction(average)");
  MakeLabel(w, "Label2", 192, 40, 84, 16, "HM: Humidity");
  MakeLabel(w, "Label6", 192, 56, 128, 16, "LT: Lightning strikes");
  static const char* chNames[4] = {"laTxtChA", "laTxtChB", "laTxtChC", "laTxtChD"};
  static const char* adcNames[4] = {"laADCa", "laADCb", "laADCc", "laADCd"};
  for (int i = 0; i < 4; ++i) {
    MakeLabel(w, chNames[i], 16, 72 + 20 * i, 9, 16, QString(QChar('A' + i)));
    Bind(MakeLabel(w, adcNames[i], 40, 72 + 20 * i, 47, 16), views_.numeric.laADC[i]);
  }
  MakeLabel(w, "laTextADC", 104, 80, 143, 16, "<- ADC channel results");
  Bind(MakeLabel(w, "laWDr", 120, 104, 49, 16, {}, Qt::AlignRight), views_.numeric.laWDr);
  Bind(MakeLabel(w, "laWDb", 120, 120, 49, 16, {}, Qt::AlignRight), views_.numeric.laWDb);
  MakeLabel(w, "Label7", 184, 104, 136, 16, "<- Wind direction in 4");
  MakeLabel(w, "Label8", 184, 120, 161, 16, "<- WD translated to index");

  auto* panel = new QFrame(w);
  panel->setObjectName("Panel1");
  panel->setGeometry(8, 160, 769, 57);
  panel->setAutoFillBackground(true);
  QPalette pal = panel->palette();
  pal.setColor(QPalette::Window, Qt::white);
  panel->setPalette(pal);
  NumericView& n = views_.numeric;
  struct Column {
    const char* value; int vl, vw; LabelView* v;
    const char* caption; int cl, cw; LabelView* c;
  };
  const Column cols[] = {
      {"laTture0", 16, 40, &n.laTture[0], "laTxtTture0", 16, 40, &n.laTxtTture[0]},
      {"laTture1", 72, 40, &n.laTture[1], "laTxtTture1", 70, 40, &n.laTxtTture[1]},
      {"laTture2", 128, 40, &n.laTture[2], "laTxtTture2", 124, 40, &n.laTxtTture[2]},
      {"laTture3", 176, 40, &n.laTture[3], "laTxtTture3", 178, 40, &n.laTxtTture[3]},
      {"laTture4", 232, 40, &n.laTture[4], "laTxtTture4", 232, 40, &n.laTxtTture[4]},
      {"laRF", 280, 64, &n.laRF, "laTxtRainfall", 288, 49, &n.laTxtRainfall},
      {"laWS", 344, 64, &n.laWS, "laTxtWindspeed", 352, 50, &n.laTxtWindspeed},
      {"laBP", 416, 41, &n.laBP, "laTxtBP", 416, 41, &n.laTxtBP},
      {"laHum", 464, 41, &n.laHum, "laTxtHum", 464, 41, &n.laTxtHum},
      {"laWDi", 512, 41, &n.laWDi, "Label1", 512, 41, nullptr},
      {"laWDa", 560, 41, &n.laWDa, "Label5", 560, 41, nullptr},
      {"laLT", 604, 52, &n.laLT, "laTxtLtning", 604, 52, &n.laTxtLtning},
      {"laOnOff1", 658, 52, &n.laOnOff1, "laTxtOnOff1", 658, 52, &n.laTxtOnOff1},
      {"laOnOff2", 712, 52, &n.laOnOff2, "laTxtOnOff2", 712, 52, &n.laTxtOnOff2},
  };
  for (const Column& c : cols) {
    Bind(MakeLabel(panel, c.value, c.vl, 9, c.vw, 18, {}, Qt::AlignHCenter), *c.v);
    QLabel* cap = MakeLabel(panel, c.caption, c.cl, 31, c.cw, 18, {}, Qt::AlignHCenter);
    if (c.c) Bind(cap, *c.c);
    else cap->setText(std::string_view(c.caption) == "Label1" ? "WD(i)" : "WD(a)");
  }
  w->installEventFilter(this);
}

void QtFrontEnd::BuildError() {
  error_ = std::make_unique<QWidget>(nullptr, kNoBorderIcons);
  error_->setObjectName("TWX118ErrDisp");
  error_->setFont(BoldFont());
  auto* layout = new QVBoxLayout(error_.get());
  layout->setContentsMargins(0, 0, 0, 0);
  memo_ = new QPlainTextEdit(error_.get());
  memo_->setObjectName("Memo1");
  memo_->setReadOnly(true);
  memo_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  // The layouts give it as little as 83 pixels, frame included.
  memo_->setMinimumSize(1, 1);
  layout->addWidget(memo_);
  error_->installEventFilter(this);
}

void QtFrontEnd::BuildMain() {
  main_ = std::make_unique<QMainWindow>();
  QMainWindow* m = main_.get();
  m->setObjectName("TWX118f1");
  // The controls keep their design sizes, which suit Arial's widths; a wider
  // default face would cut "cycles since boot" and the button captions short.
  m->setFont(BoldFont("Arial"));
  auto* c = new QWidget(m);
  m->setCentralWidget(c);
  auto* laMsgs = MakeLabel(c, "laMsgs", 16, 32, 233, 33);
  laMsgs->setWordWrap(true);
  Bind(laMsgs, views_.main.laMsgs);
  Bind(PlaceLabel(new TickingLabel(c, laMsgs), "laTOD", 216, 48, 161, 17, {}, Qt::AlignHCenter), views_.main.laTOD);
  Bind(PlaceLabel(new TickingLabel(c), "laCycle", 32, 8, 48, 16, {}, Qt::AlignRight), views_.main.laCycle);
  MakeLabel(c, "laText4", 96, 8, 113, 16, "cycles since boot");
  graphPane_ = new ImagePane(c, "imMainGraphPane", QRect(6, 76, 780, 237), graph_);
  dialPane_ = new ImagePane(c, "iWindDial", QRect(456, 8, 60, 60), dial_.Image());

  auto button = [&](const char* name, int l, int t, int w, int h, const char* text, void (WindowEvents::*fn)()) {
    auto* b = new QPushButton(text, c);
    b->setObjectName(name);
    b->setGeometry(l, t, w, h);
    connect(b, &QPushButton::clicked, this, [this, fn] {
      if (events_) (events_->*fn)();
    });
    return b;
  };
  buQuit_ = button("buQuit", 272, 8, 73, 25, "Quit", &WindowEvents::buQuitClick);
  buCorF_ = button("buCorF", 352, 8, 99, 25, "", &WindowEvents::buCorFClick);
  button("buInsCmnt", 520, 8, 201, 25, "&Insert Comment in Data File", &WindowEvents::buInsCmntClick);
  button("buHelp", 424, 40, 25, 25, "?", &WindowEvents::buHelpClick);
  button("buCopyright", 392, 40, 27, 25, "(c)", &WindowEvents::buCopyrightClick);
  button("buCommentInHTML", 520, 40, 201, 25, "&Insert Comment in HTML", &WindowEvents::buCommentInHTMLClick);

  auto item = [&](auto* owner, const char* name, const char* text, void (WindowEvents::*fn)()) {
    QAction* a = owner->addAction(text);
    a->setObjectName(name);
    connect(a, &QAction::triggered, this, [this, fn] {
      if (events_) (events_->*fn)();
    });
  };
  QMenuBar* bar = m->menuBar();
  item(bar, "Quit1", "&Quit", &WindowEvents::buQuitClick);
  QMenu* restack = bar->addMenu("&Restack");
  restack->setObjectName("Restack1");
  item(restack, "SchemeA1", "Scheme &A", &WindowEvents::SchemeA1Click);
  item(restack, "SchemeB1", "Scheme &B", &WindowEvents::SchemeB1Click);
  item(bar, "About1", "&About", &WindowEvents::buCopyrightClick);
  QMenu* ini = bar->addMenu("&Ini2Info");
  ini->setObjectName("Ini2Help1");
  item(ini, "Overview1", "Overview", &WindowEvents::Overview1Click);
  item(ini, "Legacy1", "Legacy", &WindowEvents::Legacy1Click);
  item(ini, "Modern1", "Modern", &WindowEvents::Modern1Click);
  item(bar, "Help1", "&Help", &WindowEvents::buHelpClick);
  m->installEventFilter(this);
}

void QtFrontEnd::Refresh() {
  const bool wasRendering = rendering_;
  rendering_ = true;
  for (Bound& b : bound_) {
    if (!b.shown || b.text != b.view->text) {
      b.text = b.view->text;
      b.label->setText(Q(b.text));
    }
    if (!b.shown || b.colour != b.view->colour) {
      b.colour = b.view->colour;
      QPalette p = b.label->palette();
      p.setColor(QPalette::WindowText, FromWindowsColour(b.colour));
      b.label->setPalette(p);
    }
    b.shown = true;
  }
  buQuit_->setEnabled(views_.main.buQuitEnabled);
  if (buCorFShown_ != views_.main.buCorFCaption) {
    buCorFShown_ = views_.main.buCorFCaption;
    buCorF_->setText(Q(buCorFShown_));
  }
  graphPane_->Follow();
  dialPane_->Follow();
  RenderWindow(0, main_.get(), views_.main.window);
  RenderWindow(1, error_.get(), views_.errors.window);
  RenderWindow(2, numeric_.get(), views_.numeric.window);
  RenderMemo();
  RenderTimer();
  rendering_ = wasRendering;
}

void QtFrontEnd::RenderWindow(int index, QWidget* w, const WindowView& v) {
  const QString caption = Q(v.caption);
  if (w->windowTitle() != caption) w->setWindowTitle(caption);
  // Only a changed view moves a window, so a window the user moved stays put;
  // a frame that appeared or changed since (the window manager decorated the
  // window) places it again.
  const QMargins margins = FrameMargins(w);
  if (!(v.rect == lastRect_[index]) || margins != lastMargins_[index]) {
    lastRect_[index] = v.rect;
    lastMargins_[index] = margins;
    PlaceFrame(w, v.rect, margins);
  }
  // The main window follows its view whenever they differ (it must never stay
  // maximised); the other two only when their view changed, so that a user
  // minimising one of them directly is not undone by the next tick.
  const bool apply = index == 0 ? StateOf(w) != v.state : lastState_[index] != v.state;
  lastState_[index] = v.state;
  if (apply) w->setWindowState(ToQt(v.state));
}

void QtFrontEnd::PlaceFrame(QWidget* w, const WindowRect& r, const QMargins& m) {
  if (m.isNull()) {
    // No frame known yet: a window's position is its frame's already.
    w->move(r.left, r.top);
    w->resize(std::max(1, r.width), std::max(1, r.height));
    return;
  }
  // One request for the client area inside the frame, so that the frame
  // lands exactly on the rectangle.
  w->setGeometry(r.left + m.left(), r.top + m.top(), std::max(1, r.width - m.left() - m.right()),
                 std::max(1, r.height - m.top() - m.bottom()));
}

void QtFrontEnd::RenderMemo() {
  const auto& lines = views_.errors.Memo1;
  const std::size_t dropped = views_.errors.Memo1Dropped;
  // Set afresh, or the note just came: everything is shown again.
  bool rewritten = dropped < memoDropped_ || (memoDropped_ == 0 && dropped > 0) ||
                   (memoShown_ > 0 && !lines.empty() && lines[0] != memoFirst_);
  if (!rewritten && dropped > memoDropped_) {
    // The oldest lines after the note went: remove as many here, unless
    // more went than are shown.
    const std::size_t from = kErrorViewHead + 1, to = from + (dropped - memoDropped_);
    if (to >= memoShown_) {
      rewritten = true;
    } else {
      QTextDocument* doc = memo_->document();
      QTextCursor cursor(doc->findBlockByNumber(static_cast<int>(from)));
      cursor.setPosition(doc->findBlockByNumber(static_cast<int>(to)).position(), QTextCursor::KeepAnchor);
      cursor.removeSelectedText();
      memoShown_ -= to - from;
    }
  }
  memoDropped_ = dropped;
  if (!rewritten && (lines.size() < memoShown_ || (memoShown_ > 0 && lines[memoShown_ - 1] != memoLast_)))
    rewritten = true;
  if (rewritten) {
    memo_->clear();
    memoShown_ = 0;
  }
  if (lines.size() == memoShown_) return;
  for (std::size_t i = memoShown_; i < lines.size(); ++i) memo_->appendPlainText(Q(lines[i]));
  memoShown_ = lines.size();
  memoFirst_ = lines.front();
  memoLast_ = lines.back();
  memo_->verticalScrollBar()->setValue(memo_->verticalScrollBar()->maximum());
}

void QtFrontEnd::RenderTimer() {
  const int interval = std::max(1, static_cast<int>(std::lround(views_.main.timerIntervalMs / timeScale_)));
  if (timer_.interval() != interval) timer_.setInterval(interval);
  const bool run = views_.main.timerEnabled && !terminate_;
  if (run && !timer_.isActive()) timer_.start();
  if (!run && timer_.isActive()) timer_.stop();
}

bool QtFrontEnd::eventFilter(QObject* watched, QEvent* event) {
  const int index = watched == main_.get() ? 0 : watched == error_.get() ? 1 : watched == numeric_.get() ? 2 : -1;
  if (index < 0) return false;
  auto* w = static_cast<QWidget*>(watched);
  switch (event->type()) {
    case QEvent::Close:
      if (index == 0) {
        // The program decides when to end (it may still be writing a log line).
        event->ignore();
        if (events_) events_->FormClose();
        return true;
      }
      Terminate();
      return false;
    case QEvent::WindowStateChange:
      if (index != 0 && !rendering_) {
        // A window minimised or restored on its own: its view follows, so
        // that a layout choice or the main window's restore brings it back.
        WindowView& view = index == 1 ? views_.errors.window : views_.numeric.window;
        lastState_[index] = view.state = StateOf(w);
      }
      if (index == 0 && !rendering_) {
        // The view takes the user's state first, so a handler that keeps it
        // is not undone by the next redraw; one that overrides it (maximised
        // back to normal) is applied then.
        const WindowState now = StateOf(w);
        lastState_[0] = views_.main.window.state = now;
        if (events_) events_->FormResize(now);
      }
      return false;
    case QEvent::Move:
    case QEvent::Resize:
      if (!rendering_ && w->isVisible() && !(w->windowState() & Qt::WindowMinimized)) {
        const WindowView& view =
            index == 0 ? views_.main.window : index == 1 ? views_.errors.window : views_.numeric.window;
        if (FrameMargins(w) != lastMargins_[index] && view.rect == lastRect_[index]) {
          // The window manager framed the window: the frame, not the client
          // area, goes where the view says.
          rendering_ = true;
          lastMargins_[index] = FrameMargins(w);
          PlaceFrame(w, view.rect, lastMargins_[index]);
          rendering_ = false;
        }
        const WindowRect r = FrameRectOf(w);
        if (!(r == reportedRect_[index])) {
          reportedRect_[index] = r;
          if (events_) events_->WindowMoved(index, r);
        }
      }
      return false;
    default:
      return false;
  }
}

void QtFrontEnd::ShowAll() {
  const bool wasRendering = rendering_;
  rendering_ = true;
  numeric_->show();
  error_->show();
  main_->show();
  // A frame known at once (some platforms draw it themselves) is allowed
  // for now; one a window manager adds later is allowed when it appears.
  RenderWindow(0, main_.get(), views_.main.window);
  RenderWindow(1, error_.get(), views_.errors.window);
  RenderWindow(2, numeric_.get(), views_.numeric.window);
  rendering_ = wasRendering;
}

int QtFrontEnd::Exec() {
  if (terminate_) return 0;
  return QApplication::exec();
}

void QtFrontEnd::RestoreAndRaise() {
  for (QWidget* w : {static_cast<QWidget*>(numeric_.get()), error_.get(), static_cast<QWidget*>(main_.get())}) {
    w->showNormal();
    w->raise();
    w->activateWindow();
  }
  // A box still waiting for an answer blocks the windows just raised; it must
  // not end up hidden behind them, or the monitor looks frozen.
  if (QWidget* modal = QApplication::activeModalWidget()) {
    modal->raise();
    modal->activateWindow();
  }
}

// One line on standard error, as the headless front end writes its boxes.
static void ReportAfterEnd(std::string text) {
  for (char& c : text)
    if (c == '\r' || c == '\n') c = ' ';
  std::cerr << "wx118: " << text << std::endl;
}

// Boxes show the windows as they are now (a caption set just before a box
// must not wait for the next tick). Once the program is ending no box can be
// answered, so a message goes to standard error instead and questions take
// their defaults.
bool QtFrontEnd::BeforeBox(const std::string& text) {
  if (terminate_) {
    ReportAfterEnd(text);
    return false;
  }
  Refresh();
  return true;
}

void QtFrontEnd::ShowMessage(const std::string& text) {
  if (!BeforeBox(text)) return;
  QMessageBox box(QMessageBox::NoIcon, Q(views_.main.applicationTitle), BoxText(text), QMessageBox::Ok);
  box.exec();
  if (terminate_) ReportAfterEnd(text);
}

void QtFrontEnd::ShowMessageAt(const std::string& text, int x, int y) {
  if (!BeforeBox(text)) return;
  QMessageBox box(QMessageBox::NoIcon, Q(views_.main.applicationTitle), BoxText(text), QMessageBox::Ok);
  new FramePin(&box, x, y);
  box.exec();
  if (terminate_) ReportAfterEnd(text);
}

std::string QtFrontEnd::InputBox(const std::string& caption, const std::string& prompt,
                                 const std::string& defaultText) {
  if (terminate_) return defaultText;
  Refresh();
  QInputDialog box(main_.get());
  box.setInputMode(QInputDialog::TextInput);
  box.setWindowTitle(Q(caption));
  box.setLabelText(BoxText(prompt));
  box.setTextValue(Q(defaultText));
  const bool ok = box.exec() == QDialog::Accepted;
  // A box closed because the program is ending was not cancelled: what was
  // typed is handed on, so that the caller can still report it.
  return ok || terminate_ ? box.textValue().toStdString() : defaultText;
}

DialogAnswer QtFrontEnd::AskYesNoCancel(const std::string& text, int x, int y) {
  if (terminate_) return DialogAnswer::Cancel;
  Refresh();
  QMessageBox box(QMessageBox::Question, Q(views_.main.applicationTitle), BoxText(text),
                  QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
  new FramePin(&box, x, y);
  switch (box.exec()) {
    case QMessageBox::Yes: return DialogAnswer::Yes;
    case QMessageBox::No: return DialogAnswer::No;
    default: return DialogAnswer::Cancel;
  }
}

void QtFrontEnd::ProcessMessages() { QCoreApplication::processEvents(); }

void QtFrontEnd::WaitMessages(uint32_t ms) { WaitForEvents(RealMs(ms, timeScale_)); }

void QtFrontEnd::Terminate() {
  terminate_ = true;
  timer_.stop();
  QCoreApplication::quit();
}

void QtFrontEnd::GiveFocus(FocusTarget target) {
  QWidget* w = target == FocusTarget::NumericWindow ? numeric_.get()
               : target == FocusTarget::ErrorWindow ? error_.get()
                                                    : static_cast<QWidget*>(main_.get());
  // A window just restored can be activated only once it is on screen again;
  // until then the request would be held back and overtake the next one.
  QElapsedTimer waited;
  waited.start();
  while (w->windowHandle() && !w->windowHandle()->isExposed() && waited.elapsed() < 1000) {
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    QThread::msleep(5);
  }
  w->raise();
  w->activateWindow();
  if (target == FocusTarget::InsertCommentButton)
    if (auto* b = main_->findChild<QPushButton*>("buInsCmnt")) b->setFocus(Qt::OtherFocusReason);
}

bool QtFrontEnd::ShowHelp(const std::string& path) {
  QFile file(Q(path));
  if (!file.open(QIODevice::ReadOnly)) return false;
  file.close();
  if (!help_) {
    // One help window, reused: a second click brings it forward.
    help_ = std::make_unique<QTextBrowser>();
    help_->setObjectName("HelpViewer");
    help_->setWindowTitle("WX118 help");
    help_->setOpenExternalLinks(true);
    help_->resize(640, 560);
  }
  // The file keeps its old name; its contents are HTML.
  help_->setSource(QUrl::fromLocalFile(Q(path)), QTextDocument::HtmlResource);
  help_->show();
  help_->raise();
  help_->activateWindow();
  return true;
}

}  // namespace wx
