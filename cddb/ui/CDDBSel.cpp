#include "CDDBSel.h"

#include <algorithm>

#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QStandardItemModel>
#include <QStyledItemDelegate>
#include <QVBoxLayout>

namespace {

// Draws an item's TAB-separated pieces opaque, each clipped to its header section.
class ColumnDelegate : public QStyledItemDelegate {
 public:
  ColumnDelegate(QHeaderView* header, QObject* parent)
      : QStyledItemDelegate(parent), header_(header) {}
  void paint(QPainter* p, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override {
    const bool selected = option.state & QStyle::State_Selected;
    p->fillRect(option.rect, selected ? option.palette.highlight() : option.palette.base());
    QStringList pieces = index.data().toString().split('\t');
    int x = option.rect.left();
    for (int i = 0; i < pieces.size(); ++i) {
      int w = i < header_->count() ? header_->sectionSize(i) : option.rect.right() - x;
      QRect cell(x, option.rect.top(), w, option.rect.height());
      p->save();
      p->setClipRect(cell);
      p->setPen(selected ? option.palette.highlightedText().color() : QColor(0, 0, 128));
      p->drawText(cell.adjusted(2, 0, 0, 0), Qt::AlignVCenter | Qt::AlignLeft, pieces[i]);
      p->restore();
      x += w;
    }
  }
  QSize sizeHint(const QStyleOptionViewItem& o, const QModelIndex& i) const override {
    // 14 pixels as designed, or the font's height where that is more, so no text is cut.
    return {QStyledItemDelegate::sizeHint(o, i).width(), std::max(14, o.fontMetrics.height() + 2)};
  }

 private:
  QHeaderView* header_;
};

// Presses anywhere in the list, items or empty space, end the chooser.
class PressList : public QListWidget {
 public:
  PressList(TCDDBSelectDlg* owner, QWidget* parent) : QListWidget(parent), owner_(owner) {}

 protected:
  void mousePressEvent(QMouseEvent* e) override { owner_->ListBoxPress(e->position().toPoint()); }

 private:
  TCDDBSelectDlg* owner_;
};

}  // namespace

TCDDBSelectDlg::TCDDBSelectDlg(QWidget* parent) : QDialog(parent) {
  setObjectName("CDDBSelectDlg");
  setWindowTitle("Available CDDB sites");
  auto* layout = new QVBoxLayout(this);
  Header = new QHeaderView(Qt::Horizontal, this);
  Header->setObjectName("Header");
  auto* model = new QStandardItemModel(0, 2, Header);
  Header->setModel(model);
  Header->setSectionsClickable(false);
  SetSections("Internet address", "Located at");
  Header->resizeSection(0, 169);
  Header->resizeSection(1, 59);
  Header->setStretchLastSection(true);
  layout->addWidget(Header);
  ListBox = new PressList(this, this);
  ListBox->setObjectName("ListBox");
  ListBox->setItemDelegate(new ColumnDelegate(Header, ListBox));
  layout->addWidget(ListBox);
  connect(Header, &QHeaderView::sectionResized, ListBox->viewport(),
          [this] { ListBox->viewport()->update(); });
  Label1 = new QLabel("Select a site close to you.", this);
  Label1->setObjectName("Label1");
  layout->addWidget(Label1);
  btnCancel = new QPushButton("Cancel", this);
  btnCancel->setObjectName("btnCancel");
  connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
  layout->addWidget(btnCancel, 0, Qt::AlignRight);
  resize(420, 240);
}

void TCDDBSelectDlg::SetSections(const std::string& first, const std::string& second) {
  auto* model = static_cast<QStandardItemModel*>(Header->model());
  model->setHorizontalHeaderLabels({QString::fromStdString(first), QString::fromStdString(second)});
}

void TCDDBSelectDlg::SetItems(const std::vector<std::string>& items) {
  ListBox->clear();
  for (const auto& i : items) ListBox->addItem(QString::fromStdString(i));
  SelectedIndex = -1;
}

void TCDDBSelectDlg::ListBoxPress(const QPoint& pos) {
  QListWidgetItem* item = ListBox->itemAt(pos);
  SelectedIndex = item ? ListBox->row(item) : -1;
  accept();
}

std::string FilterFileName(const std::string& text, bool* replaced) {
  static const std::string bad = "\"*/:;<>?[\\]|";
  std::string out = text;
  bool any = false;
  for (char& c : out)
    if (bad.find(c) != std::string::npos) {
      c = '-';
      any = true;
    }
  if (replaced) *replaced = any;
  return out;
}
