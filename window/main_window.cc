#include "window/main_window.h"

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
  QColor colour() const { return colour_; }

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

QString qs(const std::string& s) { return QString::fromStdString(s); }
QColor qc(Rgb c) { return QColor(c.r, c.g, c.b); }

// Window coordinates are kept in twips, 15 to a pixel.
constexpr int px(int twips) { return (twips + 7) / 15; }

void place(QWidget* w, int left, int top, int width, int height) {
  w->setGeometry(px(left), px(top), px(width), px(height));
}

// The fonts of the window, on faces the setup installs: Liberation Sans and
// Liberation Sans Narrow have the metrics of the faces the layout was drawn
// with. Qt's text is Unicode, so every font covers the Turkish letters the
// 1254 character set stands for.
QFont faceFont(const char* face, double points, bool bold) {
  const QString family = QString::fromLatin1(face) == QLatin1String("Arial Narrow")
                             ? QStringLiteral("Liberation Sans Narrow")
                             : QStringLiteral("Liberation Sans");  // MS Sans Serif, Arial
  QFont f(family);
  f.setPointSizeF(points);
  f.setWeight(bold ? QFont::Bold : QFont::Normal);
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

void setTextColour(QLabel* l, Rgb colour) {
  QPalette pal = l->palette();
  pal.setColor(QPalette::WindowText, qc(colour));
  l->setPalette(pal);
}

QLabel* label(QWidget* parent, const char* name, const char* text, Qt::Alignment align) {
  auto* l = new QLabel(QString::fromUtf8(text), parent);
  l->setObjectName(QString::fromLatin1(name));
  l->setAlignment(align | Qt::AlignTop);
  return l;
}

QPushButton* button(QWidget* parent, const char* name, const char* caption) {
  auto* b = new QPushButton(QString::fromUtf8(caption), parent);
  b->setObjectName(QString::fromLatin1(name));
  b->setAutoDefault(false);
  return b;
}

template <class W>
W* named(W* w, const char* name) {
  w->setObjectName(QString::fromLatin1(name));
  return w;
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
  if (!prefixMatches) {
    list->clear();
  }
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
  setFont(faceFont("MS Sans Serif", 8.25, false));  // the window's default font
  setFixedSize(px(14460), px(4980));

  constexpr Rgb kLightGreen{128, 255, 128};
  constexpr Rgb kLightRed{255, 128, 128};
  constexpr Rgb kGrey{192, 192, 192};
  const Qt::Alignment centre = Qt::AlignHCenter;

  // Across the top and the two lists.
  QLabel* l = label(this, "Label2_0", "SADECE TEKNİK ELMEMAN TARAFINDAN YAPILMALIDIR", centre);
  place(l, 0, 120, 9735, 495);
  l->setFont(faceFont("MS Sans Serif", 13.5, true));
  l = label(this, "Label2_1", "MEVCUT TABLO ve  ALANLAR", centre);
  place(l, 0, 600, 4815, 255);
  l->setFont(faceFont("Arial Narrow", 9.75, true));
  l = label(this, "Label2_2", "EKLENEN TABLO ve  ALANLAR", centre);
  place(l, 4920, 600, 4815, 255);
  l->setFont(faceFont("Arial Narrow", 9.75, true));

  sonuc_ = named(new QListWidget(this), "sonuc");
  place(sonuc_, 120, 840, 4815, 2205);
  sonuc1_ = named(new QListWidget(this), "sonuc1");
  place(sonuc1_, 4920, 840, 4815, 7080);  // runs on below the client area

  l = label(this, "Label2_9",
            "FİSNO ve SATIŞLAR tablosu silinir yeni tablo oluşur. 1  fiş nosuyla başlanır", centre);
  place(l, 120, 3240, 4575, 1455);
  l->setFont(faceFont("Arial", 15.75, true));
  l->setWordWrap(true);

  // The two steps.
  l = label(this, "Label3_0", "1", centre);
  place(l, 9960, 0, 735, 615);
  l->setFont(faceFont("MS Sans Serif", 24, true));
  setTextColour(l, kRed);
  l = label(this, "Label3_1", "2", centre);
  place(l, 12480, 0, 735, 615);
  l->setFont(faceFont("MS Sans Serif", 24, true));
  setTextColour(l, kRed);

  renk_ = named(new Lamp(this), "renk");
  place(renk_, 13680, 0, 615, 615);

  QPushButton* yedekle = button(this, "yedekle", "YEDEK AL");
  place(yedekle, 9840, 600, 975, 735);
  setFace(yedekle, kLightGreen);
  QPushButton* basla = button(this, "basla", "TABLO VE ALANLARI GÜNCELLE");
  place(basla, 10920, 600, 3375, 735);
  basla->setFont(faceFont("Arial", 8.25, true));

  // The counters, one row each, 480 twips apart.
  static constexpr std::array<const char*, 6> kCaptions = {
      "EKLENEN TABLO", "EKLENEN ALAN", "MEVCUT TABLO", "MEVCUT ALAN", "TOPLAM TABLO", "TOPLAM ALAN"};
  for (std::size_t i = 0; i < kCaptions.size(); ++i) {
    const int top = 1560 + 480 * static_cast<int>(i);
    const std::string captionName = "Label2_" + std::to_string(i + 3);
    const std::string valueName = "say" + std::to_string(i + 1);
    QLabel* caption = label(this, captionName.c_str(), kCaptions[i], Qt::AlignLeft);
    place(caption, 9840, top, 2655, 375);
    caption->setFont(faceFont("Arial", 14.25, false));
    say_[i] = label(this, valueName.c_str(), "0", Qt::AlignRight);
    place(say_[i], 12480, top, 1815, 375);
    say_[i]->setFont(faceFont("Arial", 14.25, false));
  }

  // The hidden panel, where KAPAT is and mostly below the client area. Made
  // before KAPAT so that KAPAT stands above it.
  frame1_ = named(new QGroupBox(QString::fromUtf8("MANUEL İŞLEMLER"), this), "Frame1");
  place(frame1_, 9840, 4440, 4575, 2775);
  {
    QPalette pal = frame1_->palette();
    pal.setColor(QPalette::Window, qc(kGrey));
    frame1_->setPalette(pal);
    frame1_->setAutoFillBackground(true);
  }
  place(label(frame1_, "Label1_1", "TABLO ADI", Qt::AlignLeft), 120, 360, 975, 255);
  tabloismi_ = named(new QLineEdit(frame1_), "tabloismi");
  place(tabloismi_, 1560, 240, 1455, 285);
  QPushButton* tabloolustur = button(frame1_, "tabloolustur", "TABLO OLUŞTUR");
  place(tabloolustur, 3000, 240, 1455, 375);
  tabloolustur->setFont(faceFont("Arial Narrow", 8.25, false));
  setFace(tabloolustur, kLightGreen);
  tabloolustur->setEnabled(false);
  place(label(frame1_, "Label1_0", "ALAN ADI", Qt::AlignLeft), 120, 720, 975, 255);
  alanismi_ = named(new QLineEdit(frame1_), "alanismi");
  place(alanismi_, 1560, 600, 1455, 285);
  place(label(frame1_, "Label1_2", "SUTUN ÖZELİĞİ", Qt::AlignLeft), 120, 1080, 1335, 255);
  verituru_ = named(new QComboBox(frame1_), "verituru");
  verituru_->setEditable(false);
  place(verituru_, 1560, 960, 1455, 315);
  place(label(frame1_, "Label1_3", "KARAKTER SINIRI", Qt::AlignLeft), 120, 1440, 1575, 255);
  sinir_ = named(new QLineEdit(frame1_), "sinir");
  place(sinir_, 1560, 1320, 1455, 330);
  sinir_->setFont(faceFont("MS Sans Serif", 9.75, false));
  sinir_->installEventFilter(this);
  sorgu_ = named(new QLineEdit(frame1_), "sorgu");
  place(sorgu_, 120, 1680, 3375, 525);
  QPushButton* sorguolusturma = button(frame1_, "sorguolusturma", "SORGU OLUŞTUR");
  place(sorguolusturma, 3600, 1680, 855, 615);
  sorguolusturma->setFont(faceFont("Arial Narrow", 8.25, false));
  setFace(sorguolusturma, kLightGreen);
  sorguolusturma->setEnabled(false);
  QPushButton* kontrolet = button(frame1_, "kontrolet", "KONTROL");
  place(kontrolet, 3600, 2280, 855, 375);
  setFace(kontrolet, kLightRed);
  kontrolet->setEnabled(false);
  frame1_->setEnabled(false);
  frame1_->hide();

  QPushButton* kapat = button(this, "kapat", "KAPAT");
  place(kapat, 9840, 4440, 4695, 615);  // clipped at the right and bottom edges
  setFace(kapat, kRed);

  // Focus order: sonuc, basla, yedekle, (panel: sinir, tabloismi, verituru,
  // alanismi, tabloolustur), kapat, sonuc1, (sorgu, sorguolusturma, kontrolet).
  const std::array<QWidget*, 13> order = {sonuc_,   basla,      yedekle,      sinir_,
                                          tabloismi_, verituru_, alanismi_, tabloolustur,
                                          kapat,    sonuc1_,    sorgu_,       sorguolusturma,
                                          kontrolet};
  for (std::size_t i = 0; i + 1 < order.size(); ++i) setTabOrder(order[i], order[i + 1]);

  // Edits go into the model at once.
  connect(tabloismi_, &QLineEdit::textEdited, this,
          [this](const QString& t) { model_.tabloismi = t.toStdString(); });
  connect(alanismi_, &QLineEdit::textEdited, this,
          [this](const QString& t) { model_.alanismi = t.toStdString(); });
  connect(sinir_, &QLineEdit::textEdited, this,
          [this](const QString& t) { model_.sinir = t.toStdString(); });
  connect(sorgu_, &QLineEdit::textEdited, this,
          [this](const QString& t) { model_.sorgu = t.toStdString(); });
  connect(verituru_, &QComboBox::activated, this,
          [this](int index) { model_.verituruIndex = static_cast<std::int16_t>(index); });

  connect(yedekle, &QPushButton::clicked, this, [this] { run(actions_.yedekle); });
  connect(basla, &QPushButton::clicked, this, [this] { run(actions_.basla); });
  connect(kapat, &QPushButton::clicked, this, [this] { quit(); });

  refresh();
  sonuc_->setFocus();
  centreOnScreen();
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

void MainWindow::run(const std::function<void()>& action) {
  if (action) {
    try {
      action();
    } catch (...) {
      // The operations report their own failures; nothing may leave a click.
    }
  }
  refresh();
}

void MainWindow::quit() {
  if (actions_.quit) {
    actions_.quit();
  } else {
    QCoreApplication::quit();
  }
}

void MainWindow::closeEvent(QCloseEvent* event) {
  event->accept();
  quit();
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == sinir_ && event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(event);
    const QString text = key->text();
    // Only keys that type a character reach the filter; Delete (0x7F) and
    // the keys without text (arrows, Home, ...) are no characters.
    if (text.isEmpty() || text == QStringLiteral("\x7f")) return false;
    const bool control = key->modifiers().testFlag(Qt::ControlModifier);
    return sinirKeyFilter(keyPressCode(text, control)) == 0;
  }
  return QWidget::eventFilter(watched, event);
}

}  // namespace window
