#pragma once
// TConfigDlg ("Options"): edits the CD reader's drive type, copy mode, block count and
// speed handling directly; it stores nothing itself.
#include <QDialog>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QSpinBox;
class TMMCDReader;

class TConfigDlg : public QDialog {
 public:
  TConfigDlg(QWidget* parent, TMMCDReader& reader);

  QLineEdit* edBlockCount;
  QSpinBox* spinBlockcount;
  QButtonGroup* radioCopyMode;
  QComboBox* comboDeviceType;
  QLineEdit* edDeviceName;
  QCheckBox* ckbIgnoreSpeed;
  QPushButton *OKBtn, *CancelBtn;

  // Fills the controls from the reader (when the dialog is shown).
  void FormShow();
  // Applies the controls to the reader; run when the dialog is left by OK.
  void Apply();

 protected:
  void showEvent(QShowEvent* e) override;
  void done(int result) override;

 private:
  TMMCDReader& reader_;
};
