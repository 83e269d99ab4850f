#include "About.h"

#include <QGuiApplication>
#include <QLinearGradient>
#include <QPainter>
#include <QPushButton>
#include <QScreen>

#include "Shell.h"
#include "Ui.h"

const char* const TFormAboutBox::kEmailAddress = "mailto:support@quillon-software.example";
const char* const TFormAboutBox::kHomepage = "https://www.quillon-software.example/";

TFormAboutBox::TFormAboutBox(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint) {
  setModal(true);
  btnEmail = new QPushButton("&Email", this);
  btnEmail->setObjectName("btnEmail");
  btnHomepage = new QPushButton("&Homepage", this);
  btnHomepage->setObjectName("btnHomepage");
  btnClose = new QPushButton("Close", this);
  btnClose->setObjectName("btnClose");
  btnClose->setToolTip("Exit this dialog");
  connect(btnEmail, &QPushButton::clicked, this, [this] { EmailClick(); });
  connect(btnHomepage, &QPushButton::clicked, this, [this] { HomepageClick(); });
  connect(btnClose, &QPushButton::clicked, this, &QDialog::accept);
  setObjectName("FormAboutBox");
  Layout("About Quillon Trackwell", 431, 324, 152, 240, 344, 280, "Quillon Trackwell");
}

void TFormAboutBox::Layout(const char* caption, int width, int height, int email_left,
                           int homepage_left, int close_left, int top, const char* product) {
  setWindowTitle(caption);
  setFixedSize(width, height);
  product_ = product;
  btnEmail->setGeometry(email_left, top, 75, 25);
  btnHomepage->setGeometry(homepage_left, top, 75, 25);
  btnClose->setGeometry(close_left, top, 75, 25);
  if (QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());
}

void TFormAboutBox::paintEvent(QPaintEvent*) {
  // The picture that fills the window.
  QPainter p(this);
  QLinearGradient g(0, 0, 0, height());
  g.setColorAt(0, QColor(0, 40, 0));
  g.setColorAt(1, QColor(0, 110, 30));
  p.fillRect(rect(), g);
  p.setPen(QColor(0, 255, 0));
  QFont title = font();
  title.setPointSize(20);
  title.setBold(true);
  p.setFont(title);
  p.drawText(QRect(0, 40, width(), 50), Qt::AlignCenter, product_);
  QFont small = font();
  small.setPointSize(9);
  p.setFont(small);
  p.setPen(QColor(200, 255, 200));
  p.drawText(QRect(0, 100, width(), 80), Qt::AlignCenter,
             "Release 1.09\n\nQuillon Software\nquillon-software.example");
}

void TFormAboutBox::EmailClick() {
  try {
    ql::shell::Open(kEmailAddress);
  } catch (const std::exception& e) {
    ql::UI().ErrorBox(e.what(), "Error");
  }
}

void TFormAboutBox::HomepageClick() {
  try {
    ql::shell::Open(kHomepage);
  } catch (const std::exception& e) {
    ql::UI().ErrorBox(e.what(), "Error");
  }
}

TFormAboutMediaPlayer::TFormAboutMediaPlayer(QWidget* parent) : TFormAboutBox(parent) {
  setObjectName("FormAboutMediaPlayer");
  Layout("About Quillon Media Player", 496, 326, 216, 304, 400, 282, "Quillon Media Player");
}
