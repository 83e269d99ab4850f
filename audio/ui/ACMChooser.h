#pragma once
// The wave format chooser: a dialog over the compression manager's lists of format tags and
// formats, installed for TMMACM::ChooseFormat by InstallACMChooser().
#include <QDialog>
#include <cstdint>
#include <string>
#include <vector>

#include "MMACMDlg.h"

class QComboBox;
class QDialogButtonBox;

// "44.100 kHz, 16 Bit, Stereo    172 kB/s": the manager's description and the byte rate.
std::string ACMFormatEntryText(const TWaveFormatEx* format, const std::string& description);

class TACMChooserDlg : public QDialog {
 public:
  // Lists what the request allows and starts at its initial format.
  explicit TACMChooserDlg(const TACMChooseRequest& request, QWidget* parent = nullptr);

  QComboBox* cbFormatTag;   // "PCM", "IMA ADPCM", ...
  QComboBox* cbAttributes;  // the formats of the selected tag
  QDialogButtonBox* buttons;

  // The format record of the selected entry (empty when there is none).
  std::vector<std::uint8_t> Selected() const;
  // Selects the entry of exactly this record; false when it is not listed.
  bool SelectFormat(const TWaveFormatEx* format);

 private:
  struct Entry {
    std::vector<std::uint8_t> format;
    std::string text;
  };
  struct Tag {
    std::uint32_t tag = 0;
    std::string name;
    std::vector<Entry> entries;
  };
  void Enumerate(const TACMChooseRequest& request);
  void ShowTag(int index);

  std::vector<Tag> tags_;
};

// Shows the dialog modally: 0 with the choice in request.Result, or ACMERR_CANCELED.
std::uint32_t RunACMChooser(TACMChooseRequest& request);
// Makes RunACMChooser the chooser of every TMMACM.
void InstallACMChooser();
