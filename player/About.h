#pragma once
// The About windows: TFormAboutBox of the CD-extraction application, and
// TFormAboutMediaPlayer, the player's, which differs only in caption, size and button places.
#include <QDialog>
#include <string>

class QPushButton;

class TFormAboutBox : public QDialog {
 public:
  explicit TFormAboutBox(QWidget* parent = nullptr);

  void EmailClick();
  void HomepageClick();

  QPushButton* btnEmail = nullptr;
  QPushButton* btnHomepage = nullptr;
  QPushButton* btnClose = nullptr;

  static const char* const kEmailAddress;
  static const char* const kHomepage;

 protected:
  // Caption, client size, button lefts and top, and the product named in the picture.
  void Layout(const char* caption, int width, int height, int email_left, int homepage_left,
              int close_left, int top, const char* product);
  void paintEvent(QPaintEvent* event) override;

 private:
  QString product_;
};

class TFormAboutMediaPlayer : public TFormAboutBox {
 public:
  explicit TFormAboutMediaPlayer(QWidget* parent = nullptr);
};
