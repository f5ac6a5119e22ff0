#include "window/qt/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QScreen>

#include "window/key_filter.h"

namespace window {

// The filled shape `renk`: a round lamp in the middle of its square.
class Lamp final : public QWidget {
 public:
  explicit Lamp(QWidget* parent) : QWidget(parent) { setFocusPolicy(Qt::NoFocus); }
  void setColour(const QColor& colour) {
    if (colour == colour_) return;
    colour_ = colour;
    update();
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(colour_);
    p.drawEllipse(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));
  }

 private:
  QColor colour_ = Qt::red;
};

namespace {

QString qs(std::string_view s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}
QColor qc(Rgb c) { return QColor(c.r, c.g, c.b); }

// Qt's coordinates are logical pixels of 96 to the inch; Qt scales them for
// the screen.
constexpr int px(int twips) { return layout::toPixels(twips, 96); }

void place(QWidget* w, const layout::Twips& box) {
  w->setGeometry(px(box.left), px(box.top), px(box.width), px(box.height));
}

// The fonts of the window, on faces the setup installs: Liberation Sans and
// Liberation Sans Narrow have the metrics of the faces the layout was drawn
// with. Qt's text is Unicode, so every font covers the Turkish letters the
// 1254 character set stands for.
QFont qtFont(const layout::Font& font) {
  const QString family = font.face == "Arial Narrow"
                             ? QStringLiteral("Liberation Sans Narrow")
                             : QStringLiteral("Liberation Sans");  // MS Sans Serif, Arial
  QFont f(family);
  f.setPointSizeF(font.points);
  f.setWeight(font.bold ? QFont::Bold : QFont::Normal);
  f.setItalic(false);
  f.setUnderline(false);
  f.setStrikeOut(false);
  return f;
}

// A button with a coloured face shows that colour flat, as a graphical
// button does; the palette carries it too for styles that read it.
void setFace(QPushButton* b, Rgb face) {
  const QColor colour = qc(face);
  QPalette pal = b->palette();
  pal.setColor(QPalette::Button, colour);
  b->setPalette(pal);
  b->setStyleSheet(QStringLiteral("QPushButton { background-color: %1; border: 1px solid #505050;"
                                  " border-radius: 2px; }"
                                  "QPushButton:focus { border: 2px solid #000000; }"
                                  "QPushButton:pressed { background-color: %2; }"
                                  "QPushButton:disabled { color: #808080; }")
                       .arg(colour.name(), colour.darker(120).name()));
}

Qt::Alignment qtAlign(layout::Align a) {
  switch (a) {
    case layout::Align::Centre: return Qt::AlignHCenter;
    case layout::Align::Right: return Qt::AlignRight;
    case layout::Align::Left: break;
  }
  return Qt::AlignLeft;
}

class BoxMessages final : public MessageService {
 public:
  explicit BoxMessages(MainWindow& window) : window_(window) {}
  void show(const std::string& text) override {
    window_.refresh();
    showMessageBox(&window_, text);
  }

 private:
  MainWindow& window_;
};

void syncList(QListWidget* list, const std::vector<std::string>& lines) {
  const int have = list->count();
  bool prefixMatches = static_cast<std::size_t>(have) <= lines.size();
  for (int i = 0; prefixMatches && i < have; ++i)
    prefixMatches = list->item(i)->text() == qs(lines[static_cast<std::size_t>(i)]);
  if (!prefixMatches) list->clear();
  for (std::size_t i = static_cast<std::size_t>(list->count()); i < lines.size(); ++i)
    list->addItem(qs(lines[i]));
}

void syncText(QLineEdit* edit, const std::string& text) {
  const QString q = qs(text);
  if (edit->text() != q) edit->setText(q);
}

}  // namespace

std::int16_t keyPressCode(const QString& text, bool control) {
  const char16_t c = text.isEmpty() ? u'\0' : text.at(0).unicode();
  if (control && ((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z')))
    return static_cast<std::int16_t>(c & 0x1F);
  if (text.size() != 1 || c > 0x7FFF) return '?';
  return static_cast<std::int16_t>(c);
}

void showMessageBox(QWidget* parent, const std::string& text) {
  QMessageBox box(parent);
  box.setWindowTitle(QString::fromLatin1(kTitle));
  box.setIcon(QMessageBox::NoIcon);
  box.setTextFormat(Qt::PlainText);
  box.setText(qs(text));
  box.setStandardButtons(QMessageBox::Ok);
  box.setWindowModality(Qt::ApplicationModal);
  box.exec();
}

MainWindow::MainWindow(Model& model, QWidget* parent)
    : QWidget(parent), model_(model), messages_(std::make_unique<BoxMessages>(*this)) {
  setObjectName(QStringLiteral("anaform"));
  setWindowTitle(QString::fromLatin1(kTitle));
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  setFont(qtFont(layout::kDefaultFont));
  setFixedSize(px(layout::kClientArea.width), px(layout::kClientArea.height));

  QWidget* frame = nullptr;
  for (const layout::Control& c : layout::controls()) {
    QWidget* w = make(c, c.inFrame ? frame : this);
    if (c.kind == layout::Kind::Frame) frame = w;
  }
  // The panel is hidden and disabled after its controls are in it, so that
  // they are hidden and disabled with it.
  for (const layout::Control& c : layout::controls()) {
    if (c.kind != layout::Kind::Frame) continue;
    QWidget* w = findChild<QWidget*>(qs(c.name));
    w->setEnabled(c.enabled);
    w->setVisible(c.visible);
  }

  const std::vector<const layout::Control*> order = layout::focusOrder();
  for (std::size_t i = 0; i + 1 < order.size(); ++i)
    setTabOrder(findChild<QWidget*>(qs(order[i]->name)),
                findChild<QWidget*>(qs(order[i + 1]->name)));

  refresh();
  findChild<QWidget*>(qs(layout::kFirstFocus))->setFocus();
  centreOnScreen();
}

QWidget* MainWindow::make(const layout::Control& c, QWidget* parent) {
  QWidget* w = nullptr;
  switch (c.kind) {
    case layout::Kind::Label: {
      auto* l = new QLabel(qs(c.text), parent);
      l->setAlignment(qtAlign(c.align) | Qt::AlignTop);
      l->setWordWrap(c.wordWrap);
      if (c.textColour) {
        QPalette pal = l->palette();
        pal.setColor(QPalette::WindowText, qc(*c.textColour));
        l->setPalette(pal);
      }
      w = l;
      break;
    }
    case layout::Kind::List: w = new QListWidget(parent); break;
    case layout::Kind::Text: w = new QLineEdit(qs(c.text), parent); break;
    case layout::Kind::DropDown: {
      auto* box = new QComboBox(parent);
      box->setEditable(false);
      w = box;
      break;
    }
    case layout::Kind::Button: {
      auto* b = new QPushButton(qs(c.text), parent);
      // Enter is handled in eventFilter; auto-default would also draw the
      // focused button as the window's default one.
      b->setAutoDefault(false);
      if (c.face) setFace(b, *c.face);
      b->installEventFilter(this);
      const layout::Command command = c.command;
      connect(b, &QPushButton::clicked, this, [this, command] { run(command); });
      w = b;
      break;
    }
    case layout::Kind::Lamp: w = new Lamp(parent); break;
    case layout::Kind::Frame: {
      auto* g = new QGroupBox(qs(c.text), parent);
      if (c.face) {
        QPalette pal = g->palette();
        pal.setColor(QPalette::Window, qc(*c.face));
        g->setPalette(pal);
        g->setAutoFillBackground(true);
      }
      w = g;
      break;
    }
  }
  w->setObjectName(qs(c.name));
  place(w, c.box);
  if (c.font) w->setFont(qtFont(*c.font));
  if (c.kind != layout::Kind::Frame) w->setEnabled(c.enabled);
  if (c.tab < 0 && c.kind != layout::Kind::Frame) w->setFocusPolicy(Qt::NoFocus);
  bind(c, w);
  return w;
}

void MainWindow::bind(const layout::Control& c, QWidget* w) {
  using layout::Binding;
  auto edit = [&](std::string Model::*field) {
    auto* e = static_cast<QLineEdit*>(w);
    connect(e, &QLineEdit::textEdited, this,
            [this, field](const QString& t) { model_.*field = t.toStdString(); });
    return e;
  };
  switch (c.binding) {
    case Binding::Sonuc: sonuc_ = static_cast<QListWidget*>(w); break;
    case Binding::Sonuc1: sonuc1_ = static_cast<QListWidget*>(w); break;
    case Binding::Tabloismi: tabloismi_ = edit(&Model::tabloismi); break;
    case Binding::Alanismi: alanismi_ = edit(&Model::alanismi); break;
    case Binding::Sinir:
      sinir_ = edit(&Model::sinir);
      sinir_->installEventFilter(this);
      break;
    case Binding::Sorgu: sorgu_ = edit(&Model::sorgu); break;
    case Binding::Verituru:
      verituru_ = static_cast<QComboBox*>(w);
      connect(verituru_, &QComboBox::activated, this,
              [this](int index) { model_.verituruIndex = static_cast<std::int16_t>(index); });
      break;
    case Binding::Renk: renk_ = static_cast<Lamp*>(w); break;
    case Binding::None: break;
    default: say_[static_cast<std::size_t>(layout::counterIndex(c.binding))] = static_cast<QLabel*>(w);
  }
}

MainWindow::~MainWindow() = default;

void MainWindow::setActions(Actions actions) { actions_ = std::move(actions); }

MessageService& MainWindow::messages() { return *messages_; }

void MainWindow::refresh() {
  syncText(tabloismi_, model_.tabloismi);
  syncText(alanismi_, model_.alanismi);
  syncText(sinir_, model_.sinir);
  syncText(sorgu_, model_.sorgu);

  bool sameItems = verituru_->count() == static_cast<int>(model_.verituruItems.size());
  for (int i = 0; sameItems && i < verituru_->count(); ++i)
    sameItems = verituru_->itemText(i) == qs(model_.verituruItems[static_cast<std::size_t>(i)]);
  if (!sameItems) {
    verituru_->clear();
    for (const std::string& item : model_.verituruItems) verituru_->addItem(qs(item));
  }
  const int index = model_.verituruIndex;
  verituru_->setCurrentIndex(index >= 0 && index < verituru_->count() ? index : -1);

  syncList(sonuc_, model_.sonuc);
  syncList(sonuc1_, model_.sonuc1);
  for (std::size_t i = 0; i < say_.size(); ++i) {
    const QString caption = qs(model_.say[i]);
    if (say_[i]->text() != caption) say_[i]->setText(caption);
  }
  renk_->setColour(qc(model_.renk));
}

void MainWindow::centreOnScreen() {
  QScreen* s = screen() != nullptr ? screen() : QGuiApplication::primaryScreen();
  if (s == nullptr) return;
  const QRect area = s->availableGeometry();
  move(area.center() - QPoint(width() / 2, height() / 2));
}

void MainWindow::run(layout::Command command) {
  if (command == layout::Command::Kapat && !actions_.quit) {
    QCoreApplication::quit();
    return;
  }
  if (const std::function<void()>* action = actionFor(actions_, command)) runAction(*action);
  refresh();
}

void MainWindow::closeEvent(QCloseEvent* event) {
  event->accept();
  run(layout::Command::Kapat);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::KeyPress) return QWidget::eventFilter(watched, event);
  const auto* key = static_cast<QKeyEvent*>(event);
  if (watched == sinir_) {
    const QString text = key->text();
    // Only keys that type a character reach the filter; Delete (0x7F) and
    // the keys without text (arrows, Home, ...) are no characters.
    if (text.isEmpty() || text == QStringLiteral("\x7f")) return false;
    const bool control = key->modifiers().testFlag(Qt::ControlModifier);
    return sinirKeyFilter(keyPressCode(text, control)) == 0;
  }
  // Enter on a focused button clicks it, as Space does (Space is the
  // button's own).
  if (auto* b = qobject_cast<QPushButton*>(watched);
      b != nullptr && (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) &&
      (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
    if (!key->isAutoRepeat() && b->isEnabled()) b->click();
    return true;
  }
  return QWidget::eventFilter(watched, event);
}

}  // namespace window
