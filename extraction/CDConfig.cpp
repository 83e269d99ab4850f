#include "CDConfig.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>

#include "MMCDRead.h"
#include "Settings.h"
#include "Ui.h"

TConfigDlg::TConfigDlg(QWidget* parent, TMMCDReader& reader) : QDialog(parent), reader_(reader) {
  setObjectName("ConfigDlg");
  setWindowTitle("Options");
  auto* layout = new QVBoxLayout(this);
  auto* pages = new QTabWidget(this);
  auto* general = new QWidget(pages);
  pages->addTab(general, "General");
  auto* gl = new QVBoxLayout(general);

  auto* blocks = new QHBoxLayout;
  auto* lblBlocks = new QLabel("&Block count", general);
  edBlockCount = new QLineEdit(general);
  edBlockCount->setObjectName("edBlockCount");
  edBlockCount->setMaxLength(4);
  edBlockCount->setValidator(new QIntValidator(1, 50, edBlockCount));
  spinBlockcount = new QSpinBox(general);
  spinBlockcount->setObjectName("spinBlockcount");
  spinBlockcount->setRange(1, 50);
  lblBlocks->setBuddy(edBlockCount);
  blocks->addWidget(lblBlocks);
  blocks->addWidget(edBlockCount);
  blocks->addWidget(spinBlockcount);
  gl->addLayout(blocks);

  auto* copy = new QGroupBox(" Copy Mode ", general);
  copy->setObjectName("radioCopyMode");
  auto* cl = new QVBoxLayout(copy);
  radioCopyMode = new QButtonGroup(this);
  int id = 0;
  for (const char* caption : {"&Normal", "&Burst-Copy", "&Sectorsynchronization"}) {
    auto* r = new QRadioButton(caption, copy);
    radioCopyMode->addButton(r, id++);
    cl->addWidget(r);
  }
  gl->addWidget(copy);

  auto* form = new QFormLayout;
  comboDeviceType = new QComboBox(general);
  comboDeviceType->setObjectName("comboDeviceType");
  edDeviceName = new QLineEdit(general);
  edDeviceName->setObjectName("edDeviceName");
  edDeviceName->setReadOnly(true);
  form->addRow("Drive &Type: ", comboDeviceType);
  form->addRow("Device &Name: ", edDeviceName);
  gl->addLayout(form);
  ckbIgnoreSpeed = new QCheckBox("Ignore Speed", general);
  ckbIgnoreSpeed->setObjectName("ckbIgnoreSpeed");
  gl->addWidget(ckbIgnoreSpeed);
  layout->addWidget(pages);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  OKBtn = new QPushButton("OK", this);
  OKBtn->setObjectName("OKBtn");
  OKBtn->setDefault(true);
  CancelBtn = new QPushButton("Cancel", this);
  CancelBtn->setObjectName("CancelBtn");
  buttons->addWidget(OKBtn);
  buttons->addWidget(CancelBtn);
  layout->addLayout(buttons);
  connect(OKBtn, &QPushButton::clicked, this, &QDialog::accept);
  connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);

  // The spin and the edit show the same number.
  connect(spinBlockcount, &QSpinBox::valueChanged, this,
          [this](int v) { edBlockCount->setText(QString::number(v)); });
  connect(edBlockCount, &QLineEdit::editingFinished, this, [this] {
    bool ok = false;
    int v = edBlockCount->text().toInt(&ok);
    if (ok) spinBlockcount->setValue(v);
  });
}

void TConfigDlg::FormShow() {
  comboDeviceType->clear();
  for (const auto& name : CDDeviceTypeNames())
    comboDeviceType->addItem(QString::fromStdString(name));
  comboDeviceType->setCurrentIndex(static_cast<int>(reader_.GetDeviceType()));
  if (QAbstractButton* b = radioCopyMode->button(static_cast<int>(reader_.GetCopyMode())))
    b->setChecked(true);
  spinBlockcount->setValue(reader_.GetBlockCount());
  edBlockCount->setText(QString::number(reader_.GetBlockCount()));
  std::string name;
  try {
    name = "<" + reader_.GetDriveLetter() + ":>  " + reader_.GetDeviceName();
  } catch (const std::exception&) {
    // No drive: the field stays empty.
  }
  edDeviceName->setText(QString::fromStdString(name));
  ckbIgnoreSpeed->setChecked(reader_.GetIgnoreSpeed());
}

void TConfigDlg::Apply() {
  reader_.SetDeviceType(static_cast<TCDDeviceType>(std::max(0, comboDeviceType->currentIndex())));
  reader_.SetCopyMode(static_cast<TMMCDCopyMode>(std::max(0, radioCopyMode->checkedId())));
  reader_.SetBlockCount(spinBlockcount->value());
  reader_.SetIgnoreSpeed(ckbIgnoreSpeed->isChecked());
}

void TConfigDlg::showEvent(QShowEvent* e) {
  FormShow();
  QDialog::showEvent(e);
}

void TConfigDlg::done(int result) {
  if (result == QDialog::Accepted) {
    try {
      Apply();
    } catch (const std::exception& e) {
      ql::UI().ShowException(e);  // for instance a change while the reader is open
    }
  }
  QDialog::done(result);
}
