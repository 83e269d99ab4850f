#pragma once
// TMMACM: checks the audio compression manager when it is created, counts its drivers and lets
// the user choose a wave format. The choice dialog is installed by the user-interface layer
// (SetACMFormatChooser); the component itself holds no window code. Nothing here runs on a
// thread of its own: the constructor's messages, the chooser and OnFormatEnum all run on the
// calling thread, which is the UI thread for the installed dialog.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "MMErrors.h"
#include "MMObjects.h"

class TMMCustomWaveFile;
class TMMACM;

enum TMMACMEnumFormats { efAll, efInput, efOutput, efConvert, efSuggest, efRestrict };

using TMMACMFormatEnum = std::function<void(TMMACM* Sender, const TWaveFormatEx* pwfx,
                                            const std::string& Description, bool& Continue)>;

// What a format chooser is asked, and where it leaves the choice.
struct TACMChooseRequest {
  std::string Title;
  const TWaveFormatEx* Initial = nullptr;     // start at this format (none: the first one)
  std::uint32_t EnumFlags = 0;                // ACM_FORMATENUMF_* restriction of the list
  const TWaveFormatEx* EnumFormat = nullptr;  // the format the restriction refers to
  // Asked for every format the list would show, on the chooser's thread while it builds the
  // list; false leaves it out. May be empty.
  std::function<bool(const TWaveFormatEx* pwfx, const std::string& description)> Accept;
  std::vector<std::uint8_t> Result;  // out: the chosen record with its extra bytes
};

// Shows the choice and returns 0 when confirmed (Result filled), ACMERR_CANCELED (515) when
// cancelled, another result code when it cannot be shown. Runs inside ChooseFormat, on its
// thread; the one the windows install shows a modal dialog, so it needs the UI thread. Installing
// one is safe from any thread.
using TACMFormatChooser = std::function<std::uint32_t(TACMChooseRequest& request)>;
void SetACMFormatChooser(TACMFormatChooser chooser);
bool HasACMFormatChooser();

class TMMACM : public TMMComponent {
 public:
  // Tells the user when the compression manager is missing or too old (ql::UI().ShowMessage),
  // on the constructing thread.
  TMMACM();
  ~TMMACM() override;

  bool HasPublishedProperty(const std::string& name) const override;

  bool ACMPresent() const { return present_; }
  std::uint32_t Version() const { return version_; }
  int NumDrivers() const { return drivers_; }
  int NumCodecs() const { return codecs_; }
  int NumConverters() const { return converters_; }
  int NumFilters() const { return filters_; }
  std::uint32_t MaxFormatSize() const { return maxFormat_; }
  std::uint32_t MaxFilterSize() const { return maxFilter_; }

  TMMACMEnumFormats EnumFormats = efAll;
  std::string Title = "Select...";
  // Asked for each format of the list (through Accept) while ChooseFormat builds it, on the
  // thread that called ChooseFormat, before the dialog is shown.
  TMMACMFormatEnum OnFormatEnum;

  // The wave file the choice is meant for; none once that component is gone.
  TMMCustomWaveFile* GetSource() const;
  void SetSource(TMMCustomWaveFile* source) { source_ = source; }

  // Shows the choice, starting at initial when given; title overrides Title when not empty.
  // True when the user confirmed: the chosen format is then in the format buffer (Format()).
  bool ChooseFormat(const TWaveFormatEx* initial = nullptr, const std::string& title = "");
  // Copies a format into the format buffer.
  void SetFormat(const TWaveFormatEx* format);
  const TWaveFormatEx* Format() const;
  const std::vector<std::uint8_t>& FilterBuffer() const { return filter_; }

 private:
  bool present_ = false;
  std::uint32_t version_ = 0;
  int drivers_ = 0, codecs_ = 0, converters_ = 0, filters_ = 0;
  std::uint32_t maxFormat_ = 0, maxFilter_ = 0;
  std::vector<std::uint8_t> format_, filter_;
  TMMCustomWaveFile* source_ = nullptr;
};
