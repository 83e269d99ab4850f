// The drive options dialog on a real CD reader over a generated image.
#include <gtest/gtest.h>

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>

#include "CDConfig.h"
#include "CdImage.h"
#include "GuiTest.h"
#include "MMCDRead.h"
#include "TestFiles.h"

TEST(ConfigDlg, ShowsTheReaderAndAppliesOnlyOnOK) {
  qltest::TempDir dir;
  auto img = qltest::WriteCdImage(dir.path(), "disc", {75, 75});
  setenv("QL_CD_IMAGES", img.cue.c_str(), 1);
  TMMCDReader reader;
  int image = -1;
  for (int i = 0; i < reader.NumDevices(); ++i)
    if (reader.DeviceName(i) == img.cue) image = i;
  ASSERT_GE(image, 0);
  reader.SetDeviceID(image);
  reader.SetBlockCount(7);
  reader.SetCopyMode(cmBurst);
  TConfigDlg dlg(nullptr, reader);
  EXPECT_EQ(dlg.windowTitle().toStdString(), "Options");
  QTimer::singleShot(0, [&] {
    EXPECT_EQ(dlg.comboDeviceType->count(), 24);
    EXPECT_EQ(dlg.spinBlockcount->value(), 7);
    EXPECT_EQ(dlg.edBlockCount->text().toStdString(), "7");
    EXPECT_EQ(dlg.radioCopyMode->checkedId(), 1);
    EXPECT_EQ(dlg.edDeviceName->text().toStdString(),
              "<" + reader.GetDriveLetter() + ":>  " + img.cue);
    dlg.spinBlockcount->setValue(12);  // the spin copies into the edit
    EXPECT_EQ(dlg.edBlockCount->text().toStdString(), "12");
    dlg.edBlockCount->setText("20");  // leaving the edit copies into the spin
    emit dlg.edBlockCount->editingFinished();
    EXPECT_EQ(dlg.spinBlockcount->value(), 20);
    dlg.radioCopyMode->button(2)->setChecked(true);
    dlg.comboDeviceType->setCurrentIndex(18);
    dlg.CancelBtn->click();
  });
  dlg.exec();
  EXPECT_EQ(reader.GetBlockCount(), 7);  // cancelled: nothing changes
  EXPECT_EQ(reader.GetCopyMode(), cmBurst);
  QTimer::singleShot(0, [&] {
    dlg.spinBlockcount->setValue(12);
    dlg.radioCopyMode->button(2)->setChecked(true);
    dlg.comboDeviceType->setCurrentIndex(18);
    dlg.ckbIgnoreSpeed->setChecked(true);
    dlg.OKBtn->click();
  });
  dlg.exec();
  EXPECT_EQ(reader.GetBlockCount(), 12);
  EXPECT_EQ(reader.GetCopyMode(), cmSync);
  EXPECT_EQ(static_cast<int>(reader.GetDeviceType()), 18);
  EXPECT_TRUE(reader.GetIgnoreSpeed());
  unsetenv("QL_CD_IMAGES");
}
