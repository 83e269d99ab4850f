#include "ACMChooser.h"

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <cstring>

#include "MMACMBind.h"

namespace {

QString Q(const std::string& s) {
  return QString::fromLocal8Bit(s.c_str());
}

struct TagCollect {
  std::vector<std::pair<std::uint32_t, std::string>> tags;
};

int TagCb(HACMDRIVERID, LPACMFORMATTAGDETAILSA d, uintptr_t inst, uint32_t) {
  auto* c = reinterpret_cast<TagCollect*>(inst);
  for (const auto& t : c->tags)
    if (t.first == d->dwFormatTag) return 1;
  c->tags.emplace_back(d->dwFormatTag, std::string(d->szFormatTag, strnlen(d->szFormatTag,
                                                                           sizeof d->szFormatTag)));
  return 1;
}

struct FormatCollect {
  struct Item {
    std::uint32_t tag;
    std::vector<std::uint8_t> format;
    std::string description;
  };
  std::vector<Item> items;
};

int FormatCb(HACMDRIVERID, LPACMFORMATDETAILSA d, uintptr_t inst, uint32_t) {
  auto* c = reinterpret_cast<FormatCollect*>(inst);
  const auto* f = reinterpret_cast<const TWaveFormatEx*>(d->pwfx);
  const auto* b = reinterpret_cast<const std::uint8_t*>(d->pwfx);
  const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(wfxSize(f)), d->cbwfx);
  c->items.push_back({d->dwFormatTag, std::vector<std::uint8_t>(b, b + n),
                      std::string(d->szFormat, strnlen(d->szFormat, sizeof d->szFormat))});
  return 1;
}

bool Same(const std::vector<std::uint8_t>& bytes, const TWaveFormatEx* f) {
  const std::size_t n = static_cast<std::size_t>(wfxSize(f));
  if (bytes.size() != n) return false;
  // A PCM record's cbSize is not part of it.
  const std::size_t cmp = f->wFormatTag == WAVE_FORMAT_PCM ? 16 : n;
  return std::memcmp(bytes.data(), f, cmp) == 0;
}

}  // namespace

std::string ACMFormatEntryText(const TWaveFormatEx* f, const std::string& description) {
  const unsigned kb = (f->nAvgBytesPerSec + 512) / 1024;
  return description + "    " + std::to_string(kb) + " kB/s";
}

TACMChooserDlg::TACMChooserDlg(const TACMChooseRequest& request, QWidget* parent)
    : QDialog(parent) {
  setObjectName("ACMChooser");
  setWindowTitle(Q(request.Title));
  cbFormatTag = new QComboBox(this);
  cbFormatTag->setObjectName("cbFormatTag");
  cbAttributes = new QComboBox(this);
  cbAttributes->setObjectName("cbAttributes");
  cbAttributes->setMinimumContentsLength(36);
  buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->setObjectName("buttons");
  buttons->button(QDialogButtonBox::Ok)->setObjectName("btnOK");
  buttons->button(QDialogButtonBox::Cancel)->setObjectName("btnCancel");
  auto* form = new QFormLayout;
  form->addRow(new QLabel("&Format:", this), cbFormatTag);
  form->addRow(new QLabel("&Attributes:", this), cbAttributes);
  qobject_cast<QLabel*>(form->labelForField(cbFormatTag))->setBuddy(cbFormatTag);
  qobject_cast<QLabel*>(form->labelForField(cbAttributes))->setBuddy(cbAttributes);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  Enumerate(request);
  for (const Tag& t : tags_) cbFormatTag->addItem(Q(t.name));
  connect(cbFormatTag, &QComboBox::currentIndexChanged, this, [this](int i) { ShowTag(i); });
  connect(cbAttributes, &QComboBox::currentIndexChanged, this, [this](int i) {
    buttons->button(QDialogButtonBox::Ok)->setEnabled(i >= 0);
  });
  ShowTag(tags_.empty() ? -1 : 0);
  if (request.Initial && !SelectFormat(request.Initial)) {
    // Not listed as it is: start at its tag.
    for (std::size_t i = 0; i < tags_.size(); ++i)
      if (tags_[i].tag == request.Initial->wFormatTag) cbFormatTag->setCurrentIndex(int(i));
  }
  buttons->button(QDialogButtonBox::Ok)->setEnabled(cbAttributes->currentIndex() >= 0);
}

void TACMChooserDlg::Enumerate(const TACMChooseRequest& r) {
  const TACMApi& a = ACMApi();
  if (!a.Usable() || !a.acmFormatTagEnumA || !a.acmFormatEnumA) return;
  TagCollect tc;
  ACMFORMATTAGDETAILSA td{};
  td.cbStruct = sizeof td;
  a.acmFormatTagEnumA(nullptr, &td, TagCb, reinterpret_cast<uintptr_t>(&tc), 0);

  std::uint32_t largest = 0;
  if (a.acmMetrics) a.acmMetrics(nullptr, ACM_METRIC_MAX_SIZE_FORMAT, &largest);
  std::size_t size = std::max<std::size_t>(largest, sizeof(TWaveFormatEx));
  if (r.EnumFormat) size = std::max(size, static_cast<std::size_t>(wfxSize(r.EnumFormat)));
  std::vector<std::uint8_t> buffer(size, 0);
  if (r.EnumFormat)
    std::memcpy(buffer.data(), r.EnumFormat, static_cast<std::size_t>(wfxSize(r.EnumFormat)));
  FormatCollect fc;
  ACMFORMATDETAILSA fd{};
  fd.cbStruct = sizeof fd;
  fd.pwfx = reinterpret_cast<LPWAVEFORMATEX>(buffer.data());
  fd.cbwfx = static_cast<std::uint32_t>(buffer.size());
  a.acmFormatEnumA(nullptr, &fd, FormatCb, reinterpret_cast<uintptr_t>(&fc), r.EnumFlags);

  for (const auto& [tag, name] : tc.tags) {
    Tag t;
    t.tag = tag;
    t.name = name;
    for (const auto& item : fc.items) {
      if (item.tag != tag) continue;
      const auto* f = reinterpret_cast<const TWaveFormatEx*>(item.format.data());
      if (r.Accept && !r.Accept(f, item.description)) continue;
      t.entries.push_back({item.format, ACMFormatEntryText(f, item.description)});
    }
    if (!t.entries.empty()) tags_.push_back(std::move(t));
  }
}

void TACMChooserDlg::ShowTag(int index) {
  cbAttributes->clear();
  if (index < 0 || index >= int(tags_.size())) return;
  for (const Entry& e : tags_[std::size_t(index)].entries) cbAttributes->addItem(Q(e.text));
  cbAttributes->setCurrentIndex(0);
}

std::vector<std::uint8_t> TACMChooserDlg::Selected() const {
  const int t = cbFormatTag->currentIndex(), e = cbAttributes->currentIndex();
  if (t < 0 || t >= int(tags_.size()) || e < 0 ||
      e >= int(tags_[std::size_t(t)].entries.size()))
    return {};
  return tags_[std::size_t(t)].entries[std::size_t(e)].format;
}

bool TACMChooserDlg::SelectFormat(const TWaveFormatEx* format) {
  for (std::size_t t = 0; t < tags_.size(); ++t)
    for (std::size_t e = 0; e < tags_[t].entries.size(); ++e)
      if (Same(tags_[t].entries[e].format, format)) {
        cbFormatTag->setCurrentIndex(int(t));
        cbAttributes->setCurrentIndex(int(e));
        return true;
      }
  return false;
}

std::uint32_t RunACMChooser(TACMChooseRequest& request) {
  TACMChooserDlg dlg(request, QApplication::activeWindow());
  if (dlg.exec() != QDialog::Accepted) return ACMERR_CANCELED;
  request.Result = dlg.Selected();
  return request.Result.empty() ? ACMERR_CANCELED : MMSYSERR_NOERROR;
}

void InstallACMChooser() {
  SetACMFormatChooser(RunACMChooser);
}
